// vkr-pack: publishes protected sites (and their games and standalone
// recordings), and serves an origin tree on loopback for development.
#include "common/tool_main.h"
#include "pack/commands.h"

int main(int argc, char** argv) {
  using vesmara::tools::Command;
  namespace pack = vesmara::pack;
  static constexpr Command kCommands[] = {
      {"build", "publish a folder of files as an origin tree", pack::runBuild},
      {"audio", "record a sealed message as a standalone WAV file", pack::runAudio},
      {"serve", "serve an origin tree on 127.0.0.1 for local development", pack::runServe},
  };
  const vesmara::tools::Tool tool{
      .name = "vkr-pack",
      .description = "Publishes sites that libvkr_preview (and vkr) open and verify.\n",
      .notes =
          "Exit codes: 0 success, 1 failure, 2 usage error, 130 interrupted by Ctrl-C,\n"
          "143 by SIGTERM ('serve' ends with 0 on SIGTERM, its normal stop).\n",
      .version = "vkr-pack " VKR_TOOLS_VERSION,
      .commands = kCommands,
  };
  return vesmara::tools::runTool(tool, argc, argv);
}
