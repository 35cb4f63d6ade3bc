// One web site as a host application holds it: its transport (fixed for its
// life), the providers the platform made for it and, once a load succeeded,
// its verified index; the reads it offers, into memory or into a file.
#ifndef VESMARA_RETRIEVAL_SITE_H_
#define VESMARA_RETRIEVAL_SITE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "base/failure.h"
#include "base/secure_bytes.h"
#include "hosts/platform.h"
#include "index/hosted_index.h"
#include "retrieval/resource_read.h"

namespace vesmara {

// The largest resource a read into memory delivers: 64 MiB.
inline constexpr std::uint64_t kMaxInMemoryRead = 67108864;

// States: Prepared (no load yet), Spent (a load was attempted and did not
// succeed: only cancel and release remain), Loaded.
//
// A failure while the transport is cancelled keeps the kind of the step
// that noticed it; callers ask transport().isCancelled().
class Site {
 public:
  // `transport` is the site's only transport; `platform` makes its providers
  // now and its file sinks later, and must outlive the site.
  Site(Platform& platform, std::unique_ptr<HttpHost> transport);

  Site(const Site&) = delete;
  Site& operator=(const Site&) = delete;

  HttpHost& transport() { return *hosts_.transport; }
  bool loaded() const { return loaded_; }
  // True once a load was attempted, whether or not it succeeded.
  bool loadStarted() const { return load_started_; }
  // The verified index; empty before a successful load.
  const SiteIndex& index() const { return index_.index; }

  // Loads the index once: hosted when `external` is empty, otherwise through
  // the external key material. A second attempt fails with WrongState and no
  // message; a transport cancelled before the load with Cancelled.
  bool load(std::optional<std::span<const std::uint8_t>> external, Failure& failure);

  // The resource at `path` when a read into memory may deliver it:
  // WrongState before a load, NotFound when the index has no such path,
  // Unsupported above kMaxInMemoryRead.
  const Resource* findForMemoryRead(std::string_view path, Failure& failure) const;

  // Reads the resource at `path` (found by findForMemoryRead) and copies it
  // into `buffer`, which must hold its whole length; nothing reaches
  // `buffer` unless every check passed.
  bool readIntoMemory(std::string_view path, const SecretKey* member_key, std::span<std::uint8_t> buffer,
                      Failure& failure);

  // Reads the resource at `path` into a new file at `destination`, which
  // appears only when the whole resource passed every check. WrongState
  // before a load; NotFound before the destination is touched.
  bool download(std::string_view path, const SecretKey* member_key, std::string_view destination,
                std::uint64_t& written, DownloadFailure& failure);

 private:
  Platform& platform_;
  // Declared before the index so that the index is released first.
  OwnedHosts hosts_;
  LoadedIndex index_;
  bool load_started_ = false;
  bool loaded_ = false;
};

}  // namespace vesmara

#endif  // VESMARA_RETRIEVAL_SITE_H_
