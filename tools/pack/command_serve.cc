// vkr-pack serve: an origin tree on loopback, until Ctrl-C.
#include <csignal>
#include <cstdio>

#include "common/arguments.h"
#include "common/command_error.h"
#include "pack/commands.h"
#include "pack/origin_server.h"

namespace vesmara::pack {
namespace {

constexpr std::string_view kHelp =
    "usage: vkr-pack serve OUT_DIR [--host ADDRESS] [--port N] [--quiet]\n\n"
    "Serves the origin tree in OUT_DIR over plain HTTP for local development,\n"
    "with byte ranges, suffix ranges and ETags, until Ctrl-C (exit status 130)\n"
    "or SIGTERM (exit status 0). The first line on standard output is the origin\n"
    "(\"http://127.0.0.1:PORT\"); each request is logged on standard error.\n\n"
    "  --host ADDRESS  127.0.0.1 (the default) or localhost, the plain HTTP\n"
    "                  origins readers open; any other address is refused\n"
    "  --port N        the port; 0 or none: any free port. A port in use is refused\n"
    "  --quiet         do not log requests\n";

}  // namespace

int runServe(Words words, tools::InterruptWatcher& interrupts) {
  static constexpr tools::OptionRule kOptions[] = {
      {.name = "host", .takes_value = true},
      {.name = "port", .takes_value = true},
      {.name = "quiet"},
  };
  const auto arguments = tools::parseCommandLine(words, kOptions, kHelp);
  if (!arguments) return 0;
  arguments->requirePositionals(1, 1);
  const std::string host = arguments->value("host").value_or("127.0.0.1");
  const auto port_text = arguments->value("port");
  const int port = port_text ? static_cast<int>(tools::parseNumberOption("port", *port_text, 0, 65535)) : 0;
  OriginServer::Logger logger;
  if (!arguments->has("quiet")) {
    logger = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  }
  OriginServer server(arguments->positionals()[0], host, port, logger);
  server.start();
  std::printf("%s\n", server.origin().c_str());
  std::fflush(stdout);
  std::fprintf(stderr, "vkr-pack serve: serving %s at %s (Ctrl-C stops)\n", arguments->positionals()[0].c_str(),
               server.origin().c_str());
  {
    // Registered once the server runs: a stop before that would be lost.
    const auto scope = interrupts.cancelWith([&server] { server.stop(); });
    server.wait();
  }
  // SIGTERM is how scripts stop the server: a normal end.
  return interrupts.signalNumber() == SIGINT ? tools::kExitSignalBase + SIGINT : 0;
}

}  // namespace vesmara::pack
