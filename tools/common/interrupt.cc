#include "common/interrupt.h"

#include <pthread.h>
#include <signal.h>

#include <system_error>

#include "common/command_error.h"

namespace vesmara::tools {
namespace {

// SIGUSR1 only wakes the watcher when it is asked to stop.
sigset_t watchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

InterruptWatcher::InterruptWatcher() {
  const sigset_t set = watchedSignals();
  const int blocked = pthread_sigmask(SIG_BLOCK, &set, nullptr);
  if (blocked != 0) throw std::system_error(blocked, std::generic_category(), "pthread_sigmask");
  thread_ = std::thread([this] { watch(); });
}

InterruptWatcher::~InterruptWatcher() {
  stopping_ = true;
  pthread_kill(thread_.native_handle(), SIGUSR1);
  thread_.join();
  // The signals stay blocked: one that arrives from here on, while the
  // process ends, stays pending and changes nothing.
}

void InterruptWatcher::watch() {
  const sigset_t set = watchedSignals();
  while (!stopping_) {
    int signal_number = 0;
    if (sigwait(&set, &signal_number) != 0 || signal_number == SIGUSR1) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    int none = 0;
    signal_number_.compare_exchange_strong(none, signal_number);
    if (cancel_) cancel_();
  }
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
