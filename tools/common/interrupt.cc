// What the interrupt watcher does the same way on every platform; how an
// interrupt arrives is in interrupt_posix.cc and interrupt_windows.cc.
#include "common/interrupt.h"

#include "common/command_error.h"

namespace vesmara::tools {

void InterruptWatcher::record(int signal_number) {
  std::lock_guard<std::mutex> lock(mutex_);
  int none = 0;
  signal_number_.compare_exchange_strong(none, signal_number);
  if (cancel_) cancel_();
}

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
