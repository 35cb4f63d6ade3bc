#include "game/game_session.h"

#include "index/external_index.h"
#include "index/paths.h"

namespace vesmara {
namespace {

// The sink the catalogue is read into: at most 65,536 bytes in memory.
class CatalogueOutput final : public OutputHost {
 public:
  bool write(const std::uint8_t* data, std::uint64_t length) override {
    // After abort nothing is accepted, and the size test cannot overflow.
    if (aborted_ || complete_ || (data == nullptr && length != 0) || length > kMaxCatalogueResource - bytes_.size()) {
      return false;
    }
    bytes_.insert(bytes_.end(), data, data + length);
    return true;
  }

  bool commit() override {
    if (aborted_) return false;
    complete_ = true;
    return true;
  }

  void abort() override {
    aborted_ = true;
    complete_ = false;
    bytes_.clear();
  }

  bool complete() const { return complete_; }
  std::string_view text() const {
    return std::string_view(reinterpret_cast<const char*>(bytes_.data()), bytes_.size());
  }
  std::size_t size() const { return bytes_.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
  bool complete_ = false;
  bool aborted_ = false;
};

constexpr std::string_view kCatalogueUnavailable = "Public game catalogue is absent or oversized";

// The steps after the index is loaded, in the order their failures are reported.
bool verifyCatalogue(const ReadHosts& hosts, std::string_view game_id, std::string_view game_version,
                     bool allow_rollback, const GameSnapshot& adopted, GameSnapshot& fresh, Failure& failure) {
  const SiteIndex& index = fresh.index.index;
  const std::string path = catalogueResourcePath();
  const Resource* resource = findResource(index, path);
  if (resource == nullptr || isMembersResource(index, *resource) || resource->length < 2 ||
      resource->length > kMaxCatalogueResource) {
    return failure.fail(FailureKind::InvalidData, kCatalogueUnavailable);
  }
  CatalogueOutput output;
  ResourceReadResult result;
  if (!readResource(index, path, nullptr, hosts, output, result, failure)) return false;
  if (!output.complete() || output.size() != resource->length) {
    return failure.fail(FailureKind::InvalidData, "Game catalogue was not fully verified");
  }
  if (!parseCatalogue(output.text(), fresh.catalogue, failure)) return false;
  if (!isCatalogueCompatible(fresh.catalogue, game_id, game_version)) {
    return failure.fail(FailureKind::InvalidData, "Game ID or version is incompatible with catalogue");
  }
  if (adopted.verified && fresh.catalogue.revision < adopted.catalogue.revision && !allow_rollback) {
    return failure.fail(FailureKind::RollbackRefused, "Catalogue revision rolled back; explicit rollback required");
  }
  for (const CatalogueItem& item : fresh.catalogue.items) {
    if (findResource(index, itemResourcePath(item)) == nullptr) {
      return failure.fail(FailureKind::InvalidData, "Game catalogue references an absent resource");
    }
  }
  return true;
}

}  // namespace

std::string catalogueResourcePath() { return siteRootPath("app/game/catalogue.json"); }

std::string itemResourcePath(const CatalogueItem& item) { return siteRootPath("app/" + item.path); }

bool refreshGame(const ReadHosts& hosts, std::string_view game_id, std::string_view game_version,
                 std::optional<std::span<const std::uint8_t>> external, bool allow_rollback, GameSnapshot& snapshot,
                 Failure& failure) {
  GameSnapshot fresh;
  const bool loaded = external ? loadExternalIndex(hosts.transport, hosts.crypto, *external, fresh.index, failure)
                               : loadHostedIndex(hosts.transport, hosts.crypto, fresh.index, failure);
  if (!loaded || !verifyCatalogue(hosts, game_id, game_version, allow_rollback, snapshot, fresh, failure)) {
    return false;
  }
  // Built completely before it replaces the adopted snapshot; the move cannot fail.
  fresh.verified = true;
  snapshot = std::move(fresh);
  failure.clear();
  return true;
}

bool fetchGameItem(const GameSnapshot& snapshot, std::string_view item_id, const SecretKey* member_key,
                   const ReadHosts& hosts, OutputHost& sink, ResourceReadResult& result, Failure& failure) {
  if (!snapshot.verified) {
    sink.abort();
    return failure.fail(FailureKind::WrongState, "No verified game catalogue");
  }
  for (const CatalogueItem& item : snapshot.catalogue.items) {
    if (item.id == item_id) {
      return readResource(snapshot.index.index, itemResourcePath(item), member_key, hosts, sink, result, failure);
    }
  }
  sink.abort();
  return failure.fail(FailureKind::NotFound, "Game item is absent");
}

}  // namespace vesmara
