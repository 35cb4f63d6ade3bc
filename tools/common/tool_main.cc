#include "common/tool_main.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "common/command_error.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h after windows.h.
#include <shellapi.h>

#include <vector>
#endif

namespace vesmara::tools {
namespace {

void printUsage(const Tool& tool, std::FILE* out) {
  const std::string name(tool.name);
  std::fprintf(out, "usage: %s COMMAND [ARGUMENTS]\n\n%.*s\ncommands:\n", name.c_str(),
               static_cast<int>(tool.description.size()), tool.description.data());
  for (const Command& command : tool.commands) {
    std::fprintf(out, "  %-7.*s %.*s\n", static_cast<int>(command.name.size()), command.name.data(),
                 static_cast<int>(command.summary.size()), command.summary.data());
  }
  std::fprintf(
      out,
      "\n'%s help COMMAND' or '%s COMMAND --help' describes a command;\n'%s --version' prints the version.\n%.*s",
      name.c_str(), name.c_str(), name.c_str(), static_cast<int>(tool.notes.size()), tool.notes.data());
}

int runCommand(const Tool& tool, const Command& command, Words words, InterruptWatcher& interrupts) {
  const std::string prefix = std::string(tool.name) + " " + std::string(command.name);
  try {
    return command.run(words, interrupts);
  } catch (const QuietExit& quiet) {
    return quiet.exitCode();
  } catch (const UsageError& error) {
    std::fprintf(stderr, "%s: %s (see '%s --help')\n", prefix.c_str(), error.what(), prefix.c_str());
    return error.exitCode();
  } catch (const CommandError& error) {
    std::fprintf(stderr, "%s: %s\n", prefix.c_str(), error.what());
    return error.exitCode();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", prefix.c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", prefix.c_str(), error.what());
  }
  return kExitFailure;
}

int dispatch(const Tool& tool, int argc, char** argv, InterruptWatcher& interrupts) {
  if (argc < 2) {
    printUsage(tool, stderr);
    return kExitUsage;
  }
  std::string_view name = argv[1];
  if (name == "--help" || name == "-h" || (name == "help" && argc == 2)) {
    printUsage(tool, stdout);
    return 0;
  }
  // "help COMMAND" is "COMMAND --help".
  static char help_flag[] = "--help";
  char* help_words[] = {help_flag};
  const bool help_for = name == "help";
  if (help_for) name = argv[2];
  if (name == "--version") {
    std::printf("%.*s\n", static_cast<int>(tool.version.size()), tool.version.data());
    return 0;
  }
  for (const Command& command : tool.commands) {
    if (command.name != name) continue;
    if (help_for) return runCommand(tool, command, Words(help_words), interrupts);
    return runCommand(tool, command, Words(argv + 2, static_cast<std::size_t>(argc - 2)), interrupts);
  }
  std::fprintf(stderr, "%s: unknown command '%.*s' (see '%s --help')\n", std::string(tool.name).c_str(),
               static_cast<int>(name.size()), name.data(), std::string(tool.name).c_str());
  return kExitUsage;
}

// What standard output still holds in its buffer must reach the reader: a
// full disk turns a success into a failure, and a reader that has gone
// ends the command silently, as a closed pipe does.
int flushStandardOutput(const Tool& tool, int exit_code) {
  errno = 0;
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return exit_code;
  const int error = errno;
  if (exit_code != 0) return exit_code;
  if (error == EPIPE) return kExitBrokenPipe;
  std::fprintf(stderr, "%s: cannot write to standard output%s%s\n", std::string(tool.name).c_str(),
               error != 0 ? ": " : "", error != 0 ? std::strerror(error) : "");
  return kExitFailure;
}

}  // namespace

#ifdef _WIN32
// The arguments as UTF-8 (main's are in the ANSI code page), owned by the
// returned vector; `argv` is rebuilt over them.
std::vector<std::string> utf8Arguments(std::vector<char*>& argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; wide != nullptr && i < count; ++i) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string argument(static_cast<std::size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, argument.data(), bytes, nullptr, nullptr);
    arguments.push_back(std::move(argument));
  }
  LocalFree(wide);
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return arguments;
}
#endif

int runTool(const Tool& tool, int argc, char** argv) {
#ifdef _WIN32
  // Resources reach standard output byte for byte: no line-end translation.
  _setmode(1, _O_BINARY);
  _setmode(2, _O_BINARY);
  std::vector<char*> utf8_argv;
  const std::vector<std::string> arguments = utf8Arguments(utf8_argv);
  if (!arguments.empty()) {
    argc = static_cast<int>(arguments.size());
    argv = utf8_argv.data();
  }
#else
  // A closed standard output is an error of the write, so that the command
  // can still clean up (a temporary file) before it ends.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  InterruptWatcher interrupts;
  return flushStandardOutput(tool, dispatch(tool, argc, argv, interrupts));
}

}  // namespace vesmara::tools
