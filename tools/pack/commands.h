// The vkr-pack subcommands. Each takes the words after its name and returns
// the exit code, or throws CommandError.
#ifndef VESMARA_TOOLS_PACK_COMMANDS_H_
#define VESMARA_TOOLS_PACK_COMMANDS_H_

#include "common/tool_main.h"

namespace vesmara::pack {

using tools::Words;

int runBuild(Words words, tools::InterruptWatcher& interrupts);
int runAudio(Words words, tools::InterruptWatcher& interrupts);
int runServe(Words words, tools::InterruptWatcher& interrupts);

}  // namespace vesmara::pack

#endif  // VESMARA_TOOLS_PACK_COMMANDS_H_
