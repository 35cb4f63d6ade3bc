// The folder a build writes its origin tree into, filled so that no
// interruption leaves a half-written site behind, even a build killed
// outright.
//
// The tree is written into OUT/.vkr-staging while OUT/.vkr-staging.lock is
// locked (flock), and moved into OUT, the favicon last, only once it is
// complete. Before the moves the lock file lists what is to be moved, so
// that a later build into OUT that finds the lock free (its build gone)
// takes back what was moved and removes the rest: OUT is then as that build
// found it. OUT itself is kept (its owner, mode, and a file system mounted
// on it) when it existed, as an empty folder; otherwise it is created, and
// removed again by a build that fails.
#ifndef VESMARA_TOOLS_PACK_STAGED_ORIGIN_H_
#define VESMARA_TOOLS_PACK_STAGED_ORIGIN_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "common/interrupt.h"
#include "publish/site_builder.h"

namespace vesmara::pack {

class WriteBehind;

// Removes what a build into `out` that ended without a word (killed, or
// the machine stopped) left there, and says whether there was anything.
// Throws CommandError when another build is writing into `out`, or what
// was left cannot be removed (naming what to delete).
bool recoverInterruptedBuild(const std::filesystem::path& out);

class StagedOrigin : public publish::OriginSink {
 public:
  // Begins a build into `out`, which must not exist or be an empty folder.
  // Throws CommandError.
  StagedOrigin(const std::filesystem::path& out, const tools::InterruptWatcher& interrupts);
  // Unless committed, removes everything written, and `out` when it was
  // created.
  ~StagedOrigin() override;
  StagedOrigin(const StagedOrigin&) = delete;
  StagedOrigin& operator=(const StagedOrigin&) = delete;

  // Fails (Cancelled) once an interrupt has arrived.
  bool append(const std::string& path, std::span<const std::uint8_t> bytes, Failure& failure) override;

  // Moves the finished tree into `out`. Throws CommandError, having removed
  // what it had moved.
  void commit();

  std::size_t fileCount() const { return files_.size(); }
  std::uint64_t byteCount() const { return bytes_; }

 private:
  int descriptorFor(const std::string& path, Failure& failure);
  bool closeFiles();
  void discard() noexcept;

  std::filesystem::path out_;
  std::filesystem::path staging_;
  std::filesystem::path lock_path_;
  const tools::InterruptWatcher& interrupts_;
  int lock_ = -1;
  bool owns_lock_ = false;
  bool created_out_ = false;
  bool committed_ = false;
  std::set<std::string> files_;
  std::map<std::string, int> open_;  // origin path -> descriptor, a few at a time
  std::unique_ptr<WriteBehind> writer_;
  std::uint64_t bytes_ = 0;
};

}  // namespace vesmara::pack

#endif  // VESMARA_TOOLS_PACK_STAGED_ORIGIN_H_
