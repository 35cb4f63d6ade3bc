// The sink a resource read streams its verified bytes into.
#ifndef VESMARA_HOSTS_OUTPUT_HOST_H_
#define VESMARA_HOSTS_OUTPUT_HOST_H_

#include <cstdint>

namespace vesmara {

// Nothing written becomes final before `commit`: a read writes part after
// part while it is still verifying, so a sink must keep the bytes invisible
// until the read has checked the whole resource and commits.
//
// Lifecycle: a sink accepts `write` calls until `commit` or `abort`. The
// reader commits at most once, only after every check passed, and aborts on
// every failure (also before any byte was written); it never commits after
// aborting. After `abort`, `write` and `commit` fail. After a successful
// `commit`, `write` and a second `commit` fail.
//
// The virtual operations keep this slot order: destructor, write, commit,
// abort, reserve.
class OutputHost {
 public:
  // A sink destroyed without a successful commit leaves no visible output.
  virtual ~OutputHost() = default;

  // Appends `length` bytes. A length of 0 succeeds without effect (when the
  // sink still accepts writes); a null pointer with a non-zero length fails.
  virtual bool write(const std::uint8_t* data, std::uint64_t length) = 0;

  // Makes everything written final and visible to the sink's owner.
  virtual bool commit() = 0;

  // Discards everything written that has not been committed.
  virtual void abort() = 0;

  // Called at most once, before the first write, with the length the reader
  // will write. A sink that can set the space aside does so, so that a full
  // disk fails before anything is fetched; false means the length cannot fit
  // (the sink then refuses writes and commit). A sink that cannot reserve
  // succeeds without effect.
  virtual bool reserve(std::uint64_t /*length*/) { return true; }

  OutputHost(const OutputHost&) = delete;
  OutputHost& operator=(const OutputHost&) = delete;

 protected:
  OutputHost() = default;
};

}  // namespace vesmara

#endif  // VESMARA_HOSTS_OUTPUT_HOST_H_
