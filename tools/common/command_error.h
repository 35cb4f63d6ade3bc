// How the tools end: an exit code that means something and, on failure, one
// line on standard error.
#ifndef VESMARA_TOOLS_COMMON_COMMAND_ERROR_H_
#define VESMARA_TOOLS_COMMON_COMMAND_ERROR_H_

#include <stdexcept>
#include <string>

namespace vesmara::tools {

inline constexpr int kExitFailure = 1;       // anything that is neither of the others
inline constexpr int kExitUsage = 2;         // a command line the tool does not accept
inline constexpr int kExitSignalBase = 128;  // stopped by a signal: 128 + its number (Ctrl-C: 130)
inline constexpr int kExitBrokenPipe = 141;  // 128 + SIGPIPE

// A failure the command reports and ends with: the message is printed after
// the tool's name, and `exit_code` is the process's exit code.
class CommandError : public std::runtime_error {
 public:
  CommandError(int exit_code, const std::string& message) : std::runtime_error(message), exit_code_(exit_code) {}
  int exitCode() const { return exit_code_; }

 private:
  int exit_code_;
};

// A command line the tool refuses; the tool adds a hint to its --help.
class UsageError : public CommandError {
 public:
  explicit UsageError(const std::string& message) : CommandError(kExitUsage, message) {}
};

// An end that needs no message.
class QuietExit : public CommandError {
 public:
  explicit QuietExit(int exit_code) : CommandError(exit_code, "") {}
};

// The user interrupted the command: it ends with the exit code the signal
// itself would have given (130 for Ctrl-C, 143 for SIGTERM).
class Interrupted : public QuietExit {
 public:
  explicit Interrupted(int signal_number) : QuietExit(kExitSignalBase + signal_number) {}
};

// Standard output was closed by its reader (`vkr cat ... | head`): the
// command ends as it would have by SIGPIPE, silently.
class BrokenPipe : public QuietExit {
 public:
  BrokenPipe() : QuietExit(kExitBrokenPipe) {}
};

[[noreturn]] inline void fail(const std::string& message) { throw CommandError(kExitFailure, message); }

}  // namespace vesmara::tools

#endif  // VESMARA_TOOLS_COMMON_COMMAND_ERROR_H_
