#include "retrieval/site.h"

#include <algorithm>

#include "index/external_index.h"
#include "retrieval/memory_output.h"

namespace vesmara {
namespace {

constexpr std::string_view kAbsent = "Resource absent from index";

}  // namespace

Site::Site(Platform& platform, std::unique_ptr<HttpHost> transport)
    : platform_(platform), hosts_(platform, std::move(transport)) {}

bool Site::load(std::optional<std::span<const std::uint8_t>> external, Failure& failure) {
  if (load_started_) return failure.fail(FailureKind::WrongState, "");
  load_started_ = true;
  if (hosts_.transport->isCancelled()) return failure.fail(FailureKind::Cancelled, "");
  LoadedIndex loaded;
  const bool ok = external ? loadExternalIndex(*hosts_.transport, *hosts_.crypto, *external, loaded, failure)
                           : loadHostedIndex(*hosts_.transport, *hosts_.crypto, loaded, failure);
  if (!ok) return false;
  index_ = std::move(loaded);
  loaded_ = true;
  return true;
}

const Resource* Site::findForMemoryRead(std::string_view path, Failure& failure) const {
  if (!loaded_) {
    failure.fail(FailureKind::WrongState, "");
    return nullptr;
  }
  const Resource* resource = findResource(index_.index, path);
  if (resource == nullptr) {
    failure.fail(FailureKind::NotFound, kAbsent);
    return nullptr;
  }
  if (resource->length > kMaxInMemoryRead) {
    failure.fail(FailureKind::Unsupported, "Resource exceeds in-memory read limit; use file download");
    return nullptr;
  }
  return resource;
}

bool Site::readIntoMemory(std::string_view path, const SecretKey* member_key, std::span<std::uint8_t> buffer,
                          Failure& failure) {
  const Resource* resource = findForMemoryRead(path, failure);
  if (resource == nullptr) return false;
  PrivateMemoryOutput sink(resource->length);
  ResourceReadResult result;
  if (!readResource(index_.index, path, member_key, hosts_.borrow(), sink, result, failure)) return false;
  if (!sink.committed() || sink.bytes().size() != resource->length || result.length != resource->length ||
      buffer.size() < resource->length) {
    return failure.fail(FailureKind::Integrity, "Verified resource length changed");
  }
  std::copy(sink.bytes().begin(), sink.bytes().end(), buffer.begin());
  return true;
}

bool Site::download(std::string_view path, const SecretKey* member_key, std::string_view destination,
                    std::uint64_t& written, DownloadFailure& failure) {
  written = 0;
  if (!loaded_) return failure.failure.fail(FailureKind::WrongState, "");
  if (findResource(index_.index, path) == nullptr) return failure.failure.fail(FailureKind::NotFound, kAbsent);
  return readIntoFile(platform_, destination, written, failure,
                      [&](OutputHost& sink, ResourceReadResult& result, Failure& read_failure) {
                        return readResource(index_.index, path, member_key, hosts_.borrow(), sink, result,
                                            read_failure);
                      });
}

}  // namespace vesmara
