#include "retrieval/resource_read.h"

#include <algorithm>

#include "base/hex.h"
#include "retrieval/part_decode.h"
#include "retrieval/part_fetch.h"

namespace vesmara {

OwnedHosts::OwnedHosts(Platform& platform, std::unique_ptr<HttpHost> http)
    : transport(std::move(http)),
      crypto(platform.makeCryptoHost()),
      media(makeMediaDecoder(platform.makePngDecoder())) {}
namespace {

constexpr std::string_view kCancelled = "Download cancelled";

class ResourceReader {
 public:
  ResourceReader(const SiteIndex& index, const Resource& resource, const SecretKey* member_key, const ReadHosts& hosts,
                 OutputHost& sink, Failure& failure)
      : index_(index),
        resource_(resource),
        member_key_(member_key),
        hosts_(hosts),
        sink_(sink),
        failure_(failure),
        state_(resource) {}

  bool read(ResourceReadResult& result) {
    std::unique_ptr<Hasher> hasher = hosts_.crypto.createHasher();
    if (hasher == nullptr) return failure_.fail(FailureKind::Provider, "SHA-256 provider unavailable");
    // A disk too small for the resource fails here, before any fetch.
    if (!sink_.reserve(resource_.length)) return failure_.fail(FailureKind::Output, "Output space reservation failed");
    // One buffer for every part, reserved at the largest stored part so it
    // never grows (a growing buffer would leave copies of plain bytes behind).
    SecureBytes part_bytes;
    std::uint64_t largest = 0;
    for (const ResourcePart& part : resource_.parts) largest = std::max(largest, part.length);
    part_bytes.reserve(static_cast<std::size_t>(largest));

    std::uint64_t total = 0;
    for (std::size_t i = 0; i < resource_.parts.size(); ++i) {
      if (cancelled()) return failCancelled();
      const ResourcePart& part = resource_.parts[i];
      std::span<const std::uint8_t> stored;
      if (!fetchPart(index_, part, hosts_.transport, hosts_.crypto, hosts_.decoder, state_, resource_, i, stored,
                     failure_) ||
          !decodePart(index_, resource_, i, part, member_key_, hosts_.crypto, stored, part_bytes, failure_)) {
        return cancelled() ? failCancelled() : false;
      }
      state_.releaseAfter(i);
      if (!hasher->update(part_bytes)) return failure_.fail(FailureKind::Provider, "Resource hash update failed");
      if (!sink_.write(part_bytes.data(), part_bytes.size())) {
        return failure_.fail(FailureKind::Output, "Output write failed");
      }
      total += part_bytes.size();
    }
    wipeAndClear(part_bytes);
    if (cancelled()) return failCancelled();
    if (total != resource_.length) return failure_.fail(FailureKind::Integrity, "Complete resource length mismatch");
    Sha256Digest digest{};
    if (!hasher->finish(digest)) return failure_.fail(FailureKind::Provider, "Resource SHA-256 provider failed");
    std::string hex = encodeLowerHex(digest);
    if (hex != resource_.sha256) return failure_.fail(FailureKind::Integrity, "Complete resource digest mismatch");
    if (!sink_.commit()) return failure_.fail(FailureKind::Output, "Output commit failed");
    result.length = total;
    result.sha256 = std::move(hex);
    return true;
  }

 private:
  bool cancelled() const { return hosts_.transport.isCancelled(); }
  bool failCancelled() { return failure_.fail(FailureKind::Cancelled, kCancelled); }

  const SiteIndex& index_;
  const Resource& resource_;
  const SecretKey* member_key_;
  const ReadHosts& hosts_;
  OutputHost& sink_;
  Failure& failure_;
  PartFetchState state_;
};

}  // namespace

bool readResource(const SiteIndex& index, std::string_view path, const SecretKey* member_key, const ReadHosts& hosts,
                  OutputHost& sink, ResourceReadResult& result, Failure& failure) {
  failure.clear();
  bool ok = false;
  try {
    const Resource* resource = findResource(index, path);
    if (resource == nullptr) {
      failure.fail(FailureKind::NotFound, "Resource absent from index");
    } else {
      ok = ResourceReader(index, *resource, member_key, hosts, sink, failure).read(result);
    }
  } catch (...) {
    sink.abort();
    throw;
  }
  if (!ok) sink.abort();
  return ok;
}

}  // namespace vesmara
