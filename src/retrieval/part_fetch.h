// Obtaining the stored bytes of one part: from a window an earlier request
// brought in, by a (possibly coalesced) range request, or from a media
// carrier fetched whole and decoded once per read.
#ifndef VESMARA_RETRIEVAL_PART_FETCH_H_
#define VESMARA_RETRIEVAL_PART_FETCH_H_

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/secure_bytes.h"
#include "hosts/crypto_host.h"
#include "hosts/http_host.h"
#include "index/site_index.h"
#include "media/media_decoder.h"

namespace vesmara {

inline constexpr std::uint64_t kPartResponseBound = 16777216;
inline constexpr std::uint64_t kCoalescingMinParts = 65;        // more than 64 parts
inline constexpr std::uint64_t kCoalescingPartBelow = 1048576;  // parts under 1 MiB
inline constexpr std::uint64_t kMaxCoalescedRange = 1048576;
inline constexpr std::uint64_t kMediaResponseBound = 67108864;
inline constexpr std::uint64_t kAudioMediaResponseBound = 134217728;

// What one resource read remembers between its parts. Besides the windows,
// pins and payloads, it knows which later parts can still use a window or a
// payload, and drops each as soon as none can: a 1 GiB resource then streams
// in bounded memory whatever its carrier layout, with exactly the requests
// and bytes it would have had if everything were kept.
class PartFetchState {
 public:
  explicit PartFetchState(const Resource& resource);

  struct Window {
    std::uint64_t first = 0;  // offset of bytes[0] in the carrier object
    std::vector<std::uint8_t> bytes;
  };

  std::map<std::string, Window, std::less<>> windows;
  std::map<std::string, std::string, std::less<>> etag_pins;
  std::map<std::string, std::vector<std::uint8_t>, std::less<>> decoded_media;

  // Drops what no part after `part_index` can use.
  void releaseAfter(std::size_t part_index);

  // A released window's memory, handed to the next range fetch to fill.
  std::vector<std::uint8_t> takeSpare() { return std::move(spare_); }
  void recycle(std::vector<std::uint8_t> bytes) {
    if (bytes.capacity() > spare_.capacity()) {
      bytes.clear();
      spare_ = std::move(bytes);
    }
  }

  // Memory held right now (windows and payloads), for tests and benchmarks.
  std::size_t heldBytes() const;

 private:
  const Resource& resource_;
  std::vector<std::uint8_t> spare_;
  std::vector<std::size_t> next_same_url_;                          // next part with the same url, or parts.size()
  std::map<std::string, std::size_t, std::less<>> last_media_use_;  // media key -> last part index
};

// The media key of a part: codec, a zero byte, url.
std::string mediaKeyOf(const ResourcePart& part);

// Finds exactly the part's `length` stored bytes: `stored` views them where
// `state` keeps them (a window or a decoded payload), valid until the next
// fetchPart or releaseAfter; nothing is copied. On failure `failure` holds
// the message (most name the part's url) and kind.
bool fetchPart(const SiteIndex& index, const ResourcePart& part, HttpHost& transport, CryptoHost& crypto,
               MediaDecoder* decoder, PartFetchState& state, const Resource& resource, std::size_t part_index,
               std::span<const std::uint8_t>& stored, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_RETRIEVAL_PART_FETCH_H_
