// Ctrl-C for the tools on Windows: the console runs a control handler on a
// thread of its own, so the reaction — a flag, and the cancel function of
// whatever long call is running — runs there as ordinary code. Ctrl-C and
// Ctrl-Break count as SIGINT, closing the console as SIGTERM, so the exit
// codes match the Linux tools (130, 143).
#include <windows.h>

#include <csignal>

#include "common/interrupt.h"

namespace vesmara::tools {
namespace {

std::atomic<InterruptWatcher*> watcher{nullptr};

}  // namespace

class InterruptWatcherAccess {
 public:
  static BOOL WINAPI onConsoleControl(DWORD event) {
    InterruptWatcher* const current = watcher.load();
    if (current == nullptr) return FALSE;
    current->record(event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM);
    return TRUE;
  }
};

InterruptWatcher::InterruptWatcher() {
  watcher = this;
  SetConsoleCtrlHandler(InterruptWatcherAccess::onConsoleControl, TRUE);
}

InterruptWatcher::~InterruptWatcher() {
  SetConsoleCtrlHandler(InterruptWatcherAccess::onConsoleControl, FALSE);
  watcher = nullptr;
}

void InterruptWatcher::watch() {}

}  // namespace vesmara::tools
