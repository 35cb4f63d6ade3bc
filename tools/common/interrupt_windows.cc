// Ctrl-C for the tools on Windows: the console runs a control handler on a
// thread of its own, so the reaction — a flag, and the cancel function of
// whatever long call is running — runs there as ordinary code. Ctrl-C and
// Ctrl-Break count as SIGINT, closing the console as SIGTERM, so the exit
// codes match the Linux tools (130, 143).
#include <windows.h>

#include <csignal>

#include "common/command_error.h"
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
    const int signal_number = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
    std::lock_guard<std::mutex> lock(current->mutex_);
    int none = 0;
    current->signal_number_.compare_exchange_strong(none, signal_number);
    if (current->cancel_) current->cancel_();
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

void InterruptWatcher::throwIfInterrupted() const {
  if (interrupted()) throw Interrupted(signalNumber());
}

InterruptWatcher::Scope InterruptWatcher::cancelWith(std::function<void()> cancel) {
  std::lock_guard<std::mutex> lock(mutex_);
  cancel_ = std::move(cancel);
  if (interrupted()) cancel_();
  return Scope(*this);
}

InterruptWatcher::Scope::~Scope() {
  std::lock_guard<std::mutex> lock(watcher_.mutex_);
  watcher_.cancel_ = nullptr;
}

}  // namespace vesmara::tools
