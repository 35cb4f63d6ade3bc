// vkr: reads protected sites and games through libvkr_preview's public
// interface, as any host application would.
#include <string>

#include "common/tool_main.h"
#include "vkr/commands.h"
#include "vkr_preview.h"

int main(int argc, char** argv) {
  using vesmara::tools::Command;
  namespace vkr = vesmara::vkr;
  static constexpr Command kCommands[] = {
      {"info", "show a site's entry page, member key ID and resource count", vkr::runInfo},
      {"ls", "list a site's resources", vkr::runList},
      {"cat", "write a verified resource to standard output", vkr::runCat},
      {"get", "download a verified resource to a file", vkr::runGet},
      {"verify", "read and verify every resource of a site, keeping nothing", vkr::runVerify},
      {"game", "list a game's catalogue or fetch one of its items", vkr::runGame},
      {"audio", "decode the message a standalone WAV recording carries", vkr::runAudio},
  };
  const std::string version =
      "vkr " VKR_TOOLS_VERSION " (libvkr_preview ABI revision " + std::to_string(vkr_preview_abi_revision()) + ")";
  const vesmara::tools::Tool tool{
      .name = "vkr",
      .description = "Reads sites and games published with vkr-pack, verifying every byte.\n",
      .notes =
          "ORIGIN is \"https://host[:port]\", or \"http://127.0.0.1:port\" for a local origin.\n"
          "Exit codes: 0 success; the library's status (1, 3 to 16) when it refuses;\n"
          "1 other failures; 2 usage errors; 130 interrupted by Ctrl-C, 143 by SIGTERM.\n",
      .version = version,
      .commands = kCommands,
  };
  return vesmara::tools::runTool(tool, argc, argv);
}
