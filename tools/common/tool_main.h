// What both tools do around their commands: the command table, --help and
// --version, Ctrl-C, and the one-line error and exit code of every failure.
#ifndef VESMARA_TOOLS_COMMON_TOOL_MAIN_H_
#define VESMARA_TOOLS_COMMON_TOOL_MAIN_H_

#include <span>
#include <string_view>

#include "common/interrupt.h"

namespace vesmara::tools {

using Words = std::span<char* const>;

struct Command {
  std::string_view name;
  std::string_view summary;
  int (*run)(Words words, InterruptWatcher& interrupts);
};

struct Tool {
  std::string_view name;
  std::string_view description;  // printed above the command list
  std::string_view notes;        // printed below it
  std::string_view version;
  std::span<const Command> commands;
};

// Runs the command argv[1] names with the words after it and returns the
// process's exit code. Must be called before any other thread starts.
int runTool(const Tool& tool, int argc, char** argv);

}  // namespace vesmara::tools

#endif  // VESMARA_TOOLS_COMMON_TOOL_MAIN_H_
