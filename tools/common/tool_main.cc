#include "common/tool_main.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
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

int dispatch(const Tool& tool, int argc, char** argv, InterruptWatcher& interrupts) {
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

int runTool(const Tool& tool, int argc, char** argv) {
  // A closed standard output is an error of the write, so that the command
  // can still clean up (a temporary file) before it ends.
  std::signal(SIGPIPE, SIG_IGN);
  InterruptWatcher interrupts;
  return flushStandardOutput(tool, dispatch(tool, argc, argv, interrupts));
}

}  // namespace vesmara::tools
