#include "common/tool_main.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "common/command_error.h"

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
  std::fprintf(out, "\n'%s COMMAND --help' describes a command.\n%.*s", name.c_str(),
               static_cast<int>(tool.notes.size()), tool.notes.data());
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

}  // namespace

int runTool(const Tool& tool, int argc, char** argv) {
  // A closed standard output is an error of the write, so that the command
  // can still clean up (a temporary file) before it ends.
  std::signal(SIGPIPE, SIG_IGN);
  InterruptWatcher interrupts;
  if (argc < 2) {
    printUsage(tool, stderr);
    return kExitUsage;
  }
  const std::string_view name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    printUsage(tool, stdout);
    return 0;
  }
  if (name == "--version") {
    std::printf("%.*s\n", static_cast<int>(tool.version.size()), tool.version.data());
    return 0;
  }
  for (const Command& command : tool.commands) {
    if (command.name == name) {
      return runCommand(tool, command, Words(argv + 2, static_cast<std::size_t>(argc - 2)), interrupts);
    }
  }
  std::fprintf(stderr, "%s: unknown command '%s' (see '%s --help')\n", std::string(tool.name).c_str(), argv[1],
               std::string(tool.name).c_str());
  return kExitUsage;
}

}  // namespace vesmara::tools
