// The vkr subcommands. Each takes the words after its name and returns the
// exit code, or throws CommandError.
#ifndef VESMARA_TOOLS_VKR_COMMANDS_H_
#define VESMARA_TOOLS_VKR_COMMANDS_H_

#include "common/tool_main.h"

namespace vesmara::vkr {

using tools::Words;

int runInfo(Words words, tools::InterruptWatcher& interrupts);
int runList(Words words, tools::InterruptWatcher& interrupts);
int runCat(Words words, tools::InterruptWatcher& interrupts);
int runGet(Words words, tools::InterruptWatcher& interrupts);
int runVerify(Words words, tools::InterruptWatcher& interrupts);
int runGame(Words words, tools::InterruptWatcher& interrupts);
int runAudio(Words words, tools::InterruptWatcher& interrupts);

}  // namespace vesmara::vkr

#endif  // VESMARA_TOOLS_VKR_COMMANDS_H_
