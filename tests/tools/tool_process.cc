#include "tools/tool_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

namespace vesmara::test {
namespace {

int exitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return -1;
}

std::vector<char*> argvOf(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// In the child: no signal the test process blocks or ignores is inherited.
void resetSignals() {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGINT, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
}

// Reads every descriptor until each is closed (a pseudo-terminal's master
// reports an error once the child's side is gone).
void drain(std::vector<std::pair<int, std::string*>> sources) {
  std::vector<pollfd> fds;
  for (const auto& [fd, text] : sources) fds.push_back({fd, POLLIN, 0});
  std::size_t open_count = fds.size();
  while (open_count > 0) {
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sources[i].second->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

}  // namespace

ToolResult runTool(const std::vector<std::string>& arguments, const ToolOptions& options) {
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  // The child's side of the terminal is opened here, so that it exists
  // before the parent polls the master side.
  int terminal = -1;
  int slave = -1;
  if (options.stderr_terminal) {
    terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) throw std::runtime_error("no pty");
    slave = open(ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) throw std::runtime_error("no pty");
  }
  std::vector<char*> argv = argvOf(arguments);
  const pid_t pid = fork();
  if (pid == 0) {
    resetSignals();
    if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) _exit(127);
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    if (slave >= 0) {
      dup2(slave, STDERR_FILENO);
    } else {
      dup2(err[1], STDERR_FILENO);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (slave >= 0) close(slave);
  ToolResult result;
  std::vector<std::pair<int, std::string*>> sources = {{out[0], &result.out}, {err[0], &result.err}};
  if (terminal >= 0) sources.emplace_back(terminal, &result.err);
  drain(sources);
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  result.exit_code = exitCodeOf(status);
  result.peak_resident_kib = usage.ru_maxrss;
  return result;
}

BackgroundTool::BackgroundTool(const std::vector<std::string>& arguments, bool with_input) {
  int out[2];
  int in[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0 || (with_input && pipe2(in, O_CLOEXEC) != 0)) throw std::runtime_error("pipe failed");
  std::vector<char*> argv = argvOf(arguments);
  pid_ = fork();
  if (pid_ == 0) {
    resetSignals();
    const int null = open("/dev/null", O_RDWR);
    dup2(with_input ? in[0] : null, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  out_ = out[0];
  if (with_input) {
    close(in[0]);
    in_ = in[1];
  }
}

BackgroundTool::~BackgroundTool() {
  if (wait(std::chrono::milliseconds(0)) == kRunning) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(out_);
  closeInput();
}

std::string BackgroundTool::readLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (buffered_.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {};
    pollfd fd{out_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t got = read(out_, buffer, sizeof buffer);
    if (got <= 0) return {};
    buffered_.append(buffer, static_cast<std::size_t>(got));
  }
  const std::size_t end = buffered_.find('\n');
  std::string line = buffered_.substr(0, end);
  buffered_.erase(0, end + 1);
  return line;
}

void BackgroundTool::signal(int signal_number) { kill(pid_, signal_number); }

void BackgroundTool::writeInput(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(in_, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throw std::runtime_error("the tool's input is closed");
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

void BackgroundTool::closeInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

int BackgroundTool::wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (status_ == kRunning) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = exitCodeOf(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return kRunning;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status_;
}

}  // namespace vesmara::test
