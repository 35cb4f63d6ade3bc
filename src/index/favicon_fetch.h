// The two requests that read a hosted index from "/favicon.ico": its last
// 128 bytes (the footer), then the payload the footer points at. A server
// that ignores ranges may answer either with the whole favicon.
#ifndef VESMARA_INDEX_FAVICON_FETCH_H_
#define VESMARA_INDEX_FAVICON_FETCH_H_

#include <cstdint>
#include <span>
#include <string>

#include "base/failure.h"
#include "hosts/http_host.h"

namespace vesmara {

// What the two requests share: the favicon's length and the strong ETag of
// the first answer, which the second must keep.
struct FaviconFetch {
  std::uint64_t favicon_length = 0;
  std::string etag;
};

// The footer request. On success `footer` is the favicon's last 128 bytes,
// inside `response.body`.
bool fetchFaviconFooter(HttpHost& transport, FaviconFetch& fetch, HttpResponse& response,
                        std::span<const std::uint8_t>& footer, Failure& failure);

// The payload request for `length` bytes at `offset`, preceded by a
// cancellation check. On success `payload` lies inside `response.body`.
bool fetchFaviconPayload(HttpHost& transport, FaviconFetch& fetch, std::uint64_t offset, std::uint64_t length,
                         HttpResponse& response, std::span<const std::uint8_t>& payload, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_INDEX_FAVICON_FETCH_H_
