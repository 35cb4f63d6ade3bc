#include "game/catalogue.h"

#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include "index/document_fields.h"
#include "json/json.h"

namespace vesmara {
namespace {

constexpr char kInvalidHeader[] = "Invalid game catalogue header";
constexpr char kInvalidItemCount[] = "Invalid game catalogue item count";
constexpr char kInvalidItem[] = "Invalid or duplicate game item";
constexpr char kInvalidDependencies[] = "Invalid game item dependencies";
constexpr char kInvalidDependencyId[] = "Invalid game dependency ID";

constexpr std::string_view kItemKinds[] = {"release", "event", "puzzle", "quest", "experiment", "media", "opaque"};

bool isLowerAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
bool isPathByte(char c) { return (c >= 'A' && c <= 'Z') || isLowerAlnum(c) || c == '-' || c == '.' || c == '_'; }

bool isItemKind(std::string_view kind) {
  for (const std::string_view known : kItemKinds) {
    if (kind == known) return true;
  }
  return false;
}

// A member that must be a String satisfying `rule`.
template <typename Rule>
bool readCheckedString(const JsonValue& object, std::string_view key, Rule rule, std::string& out) {
  const std::optional<JsonValue> member = object.findMember(key);
  return member && readJsonString(*member, out) && rule(std::string_view(out));
}

bool parseHeader(const JsonValue& root, Catalogue& catalogue) {
  if (root.kind() != JsonKind::Object) return false;
  std::uint64_t schema = 0;
  if (!readRequiredUnsignedMember(root, field::kSchema, schema) || schema != kCatalogueSchema) return false;
  if (!readCheckedString(root, field::kGameId, isValidGameIdentifier, catalogue.game_id)) return false;
  if (!readRequiredUnsignedMember(root, field::kRevision, catalogue.revision) || catalogue.revision < 1 ||
      catalogue.revision > kMaxCatalogueRevision) {
    return false;
  }
  const auto is_version = [](std::string_view v) { return parseGameVersion(v).has_value(); };
  if (!readCheckedString(root, field::kMinGameVersion, is_version, catalogue.min_game_version)) return false;
  if (!readCheckedString(root, field::kMaxGameVersion, is_version, catalogue.max_game_version)) return false;
  return !(*parseGameVersion(catalogue.max_game_version) < *parseGameVersion(catalogue.min_game_version));
}

bool parseItem(const JsonValue& element, std::set<std::string, std::less<>>& seen_ids,
               std::set<std::string, std::less<>>& seen_paths, CatalogueItem& item, Failure& failure) {
  if (element.kind() != JsonKind::Object || !readCheckedString(element, field::kId, isValidGameIdentifier, item.id) ||
      !readCheckedString(element, field::kKind, isItemKind, item.kind) ||
      !readCheckedString(element, field::kPath, isValidItemPath, item.path) || !seen_ids.insert(item.id).second ||
      !seen_paths.insert(item.path).second) {
    return failure.fail(FailureKind::InvalidData, kInvalidItem);
  }
  const std::optional<JsonValue> depends_on = element.findMember(field::kDependsOn);
  if (!depends_on) return true;
  if (depends_on->kind() != JsonKind::Array || depends_on->size() > kMaxItemDependencies) {
    return failure.fail(FailureKind::InvalidData, kInvalidDependencies);
  }
  for (const JsonValue entry : depends_on->elements()) {
    std::string id;
    if (!readJsonString(entry, id) || !isValidGameIdentifier(id)) {
      return failure.fail(FailureKind::InvalidData, kInvalidDependencyId);
    }
    item.depends_on.push_back(std::move(id));
  }
  return true;
}

// Depth-first walk over the dependency graph in document order. The id in a
// failure message is the one at which the walk found the fault.
class DependencyWalk {
 public:
  explicit DependencyWalk(const std::vector<CatalogueItem>& items) {
    for (const CatalogueItem& item : items) items_.emplace(item.id, &item);
  }

  bool visit(const std::string& id, Failure& failure) {
    const auto item = items_.find(id);
    if (item == items_.end()) {
      return failure.fail(FailureKind::InvalidData, "Missing game dependency: " + id);
    }
    State& state = states_[id];
    if (state == State::Visiting) {
      return failure.fail(FailureKind::InvalidData, "Game dependency cycle: " + id);
    }
    if (state == State::Done) return true;
    state = State::Visiting;
    for (const std::string& dependency : item->second->depends_on) {
      if (!visit(dependency, failure)) return false;
    }
    states_[id] = State::Done;
    return true;
  }

 private:
  enum class State { Unvisited, Visiting, Done };
  std::unordered_map<std::string, const CatalogueItem*> items_;
  std::unordered_map<std::string, State> states_;
};

}  // namespace

std::optional<std::string_view> CatalogueItem::field(std::uint32_t selector) const {
  switch (static_cast<CatalogueItemField>(selector)) {
    case CatalogueItemField::Id:
      return std::string_view(id);
    case CatalogueItemField::Kind:
      return std::string_view(kind);
    case CatalogueItemField::Path:
      return std::string_view(path);
  }
  return std::nullopt;
}

bool isValidGameIdentifier(std::string_view id) {
  if (id.empty() || id.size() > 64 || !isLowerAlnum(id.front())) return false;
  for (const char c : id) {
    if (!isLowerAlnum(c) && c != '-' && c != '.' && c != '_') return false;
  }
  return true;
}

bool isValidItemPath(std::string_view path) {
  if (path.size() < 6 || path.size() > kMaxItemPathLength || path.substr(0, 5) != "game/") return false;
  std::size_t start = 5;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string_view segment = path.substr(start, slash == std::string_view::npos ? path.npos : slash - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    for (const char c : segment) {
      if (!isPathByte(c)) return false;
    }
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

std::optional<VersionTriple> parseGameVersion(std::string_view version) {
  VersionTriple triple{};
  std::size_t pos = 0;
  for (std::size_t component = 0; component < 3; ++component) {
    if (component > 0) {
      if (pos == version.size() || version[pos] != '.') return std::nullopt;
      ++pos;
    }
    const std::size_t start = pos;
    std::uint32_t value = 0;
    while (pos < version.size() && version[pos] >= '0' && version[pos] <= '9') {
      if (pos - start == 5) return std::nullopt;  // a sixth digit
      value = value * 10 + static_cast<std::uint32_t>(version[pos] - '0');
      ++pos;
    }
    if (pos == start) return std::nullopt;
    triple[component] = value;
  }
  // One "." directly after the third component ends the scan.
  if (pos < version.size() && version[pos] == '.') ++pos;
  if (pos != version.size()) return std::nullopt;
  return triple;
}

bool parseCatalogue(std::string_view document, Catalogue& out, Failure& failure) {
  failure.clear();
  JsonValue root;
  if (!parseJsonDocument(document, kCatalogueJsonLimit, root, failure)) return false;

  Catalogue catalogue;
  if (!parseHeader(root, catalogue)) return failure.fail(FailureKind::InvalidData, kInvalidHeader);
  const std::optional<JsonValue> items = root.findMember(field::kItems);
  if (!items || items->kind() != JsonKind::Array || items->size() == 0 || items->size() > kMaxCatalogueItems) {
    return failure.fail(FailureKind::InvalidData, kInvalidItemCount);
  }
  std::set<std::string, std::less<>> seen_ids;
  std::set<std::string, std::less<>> seen_paths;
  catalogue.items.reserve(items->size());
  for (const JsonValue element : items->elements()) {
    CatalogueItem item;
    if (!parseItem(element, seen_ids, seen_paths, item, failure)) return false;
    catalogue.items.push_back(std::move(item));
  }
  DependencyWalk walk(catalogue.items);
  for (const CatalogueItem& item : catalogue.items) {
    if (!walk.visit(item.id, failure)) return false;
  }
  out = std::move(catalogue);
  return true;
}

bool isCatalogueCompatible(const Catalogue& catalogue, std::string_view game_id, std::string_view game_version) {
  if (game_id != catalogue.game_id) return false;
  const std::optional<VersionTriple> version = parseGameVersion(game_version);
  const std::optional<VersionTriple> min = parseGameVersion(catalogue.min_game_version);
  const std::optional<VersionTriple> max = parseGameVersion(catalogue.max_game_version);
  return version && min && max && !(*version < *min) && !(*max < *version);
}

}  // namespace vesmara
