#include "index/memory_host.h"

#include "base/decimal.h"
#include "index/paths.h"

namespace vesmara {

bool MemoryHost::serve(std::uint64_t first, std::uint64_t last, HttpResponse& response, Failure& failure) const {
  response.status = 206;
  response.valid = true;
  response.content_range = "bytes " + formatUnsignedDecimal(first) + "-" + formatUnsignedDecimal(last) + "/" +
                           formatUnsignedDecimal(bytes_.size());
  response.etag.clear();
  response.body.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(first),
                       bytes_.begin() + static_cast<std::ptrdiff_t>(last) + 1);
  failure.clear();
  return true;
}

bool MemoryHost::refuse(Failure& failure) const {
  failure.kind = fetchFailureKind(*this);
  return false;
}

bool MemoryHost::fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t,
                            HttpResponse& response, Failure& failure) {
  if (path != kFaviconPath || first > last || last >= bytes_.size()) return refuse(failure);
  return serve(first, last, response, failure);
}

bool MemoryHost::fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t, HttpResponse& response,
                             Failure& failure) {
  // An empty suffix would have no last byte to name; it serves nothing.
  if (path != kFaviconPath || length == 0 || length > bytes_.size()) return refuse(failure);
  return serve(bytes_.size() - length, bytes_.size() - 1, response, failure);
}

bool MemoryHost::fetchWhole(std::string_view, std::uint64_t, HttpResponse& response, Failure& failure) {
  response.reset();
  return failure.fail(fetchFailureKind(*this), "Whole-carrier fetch is not supported by this host");
}

}  // namespace vesmara
