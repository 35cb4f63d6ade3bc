// Runs the command-line tools as a user does: as child processes, with
// their standard output and standard error captured.
#ifndef VESMARA_TESTS_TOOLS_TOOL_PROCESS_H_
#define VESMARA_TESTS_TOOLS_TOOL_PROCESS_H_

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vesmara::test {

struct ToolResult {
  int exit_code = -1;  // minus the signal's number when a signal ended the process
  std::string out;
  std::string err;
  long peak_resident_kib = 0;  // the most memory the process held resident
};

struct ToolOptions {
  std::filesystem::path directory;  // empty: the test's own
  bool stderr_terminal = false;     // standard error is a pseudo-terminal
};

// Runs `arguments` (the program first) to completion.
ToolResult runTool(const std::vector<std::string>& arguments, const ToolOptions& options = {});

// A tool running in the background. Its standard input is empty, or with
// `with_input` a pipe the test writes to.
class BackgroundTool {
 public:
  explicit BackgroundTool(const std::vector<std::string>& arguments, bool with_input = false);
  // Kills the process if it still runs.
  ~BackgroundTool();
  BackgroundTool(const BackgroundTool&) = delete;
  BackgroundTool& operator=(const BackgroundTool&) = delete;

  pid_t pid() const { return pid_; }
  // The first line of standard output, waiting up to `timeout`; empty when none came.
  std::string readLine(std::chrono::milliseconds timeout);
  void signal(int signal_number);
  // Writes to the tool's standard input (with_input only); closing it is end of input.
  void writeInput(std::string_view text);
  void closeInput();
  // Waits up to `timeout` for the end; the exit code (minus the signal's
  // number when a signal ended the process), or kRunning.
  static constexpr int kRunning = 1000;
  int wait(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int in_ = -1;
  int status_ = kRunning;
  std::string buffered_;
};

}  // namespace vesmara::test

#endif  // VESMARA_TESTS_TOOLS_TOOL_PROCESS_H_
