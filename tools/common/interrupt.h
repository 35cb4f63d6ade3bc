// Ctrl-C for the tools (interrupt_posix.cc: signals; interrupt_windows.cc:
// the Windows console's control handler instead). SIGINT and SIGTERM are blocked in every thread and
// taken by one thread that waits for them (sigwait), so the reaction — a
// flag, and the cancel function of whatever long call is running — runs as
// ordinary code, never inside a signal handler.
//
//   InterruptWatcher interrupts;   // first thing in main, before any thread starts
//   {
//     auto scope = interrupts.cancelWith([&] { vkr_preview_operation_cancel(operation); });
//     status = vkr_preview_site_download_operation(...);
//   }                              // from here on the operation may be released
//   interrupts.throwIfInterrupted();
#ifndef VESMARA_TOOLS_COMMON_INTERRUPT_H_
#define VESMARA_TOOLS_COMMON_INTERRUPT_H_

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace vesmara::tools {

class InterruptWatcher {
 public:
  class Scope {
   public:
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    friend class InterruptWatcher;
    explicit Scope(InterruptWatcher& watcher) : watcher_(watcher) {}
    InterruptWatcher& watcher_;
  };

  InterruptWatcher();
  ~InterruptWatcher();
  InterruptWatcher(const InterruptWatcher&) = delete;
  InterruptWatcher& operator=(const InterruptWatcher&) = delete;

  bool interrupted() const { return signal_number_.load() != 0; }
  // The signal that interrupted the command (SIGINT or SIGTERM), or 0.
  int signalNumber() const { return signal_number_.load(); }
  // Throws Interrupted once an interrupt has arrived.
  void throwIfInterrupted() const;

  // Until the scope ends, an interrupt calls `cancel` (on the watcher's
  // thread); when one has already arrived, `cancel` runs at once. Once the
  // scope has ended `cancel` is never called, so what it refers to may go.
  [[nodiscard]] Scope cancelWith(std::function<void()> cancel);

 private:
  friend class InterruptWatcherAccess;  // the Windows console handler
  void watch();
  // Keeps the first interrupt and cancels the running call, if any.
  void record(int signal_number);

  std::mutex mutex_;
  std::function<void()> cancel_;
  std::atomic<int> signal_number_{0};  // the first interrupt's
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace vesmara::tools

#endif  // VESMARA_TOOLS_COMMON_INTERRUPT_H_
