#include <pthread.h>
#include <signal.h>

#include <system_error>

#include "common/interrupt.h"

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
    record(signal_number);
  }
}

}  // namespace vesmara::tools
