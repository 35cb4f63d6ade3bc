#include "pack/game_description.h"

#include <filesystem>
#include <set>

#include "common/command_error.h"
#include "common/files.h"
#include "json/json.h"
#include "pack/media_types.h"
#include "pack/source_tree.h"

namespace vesmara::pack {
namespace {

// A description is small; its item files are read separately.
constexpr std::uint64_t kDescriptionLimit = 1048576;

class DescriptionReader {
 public:
  explicit DescriptionReader(std::string path) : path_(std::move(path)) {}

  publish::GameDescription read() {
    const std::vector<std::uint8_t> bytes = tools::readLimitedFile(path_, kDescriptionLimit, "1 MiB");
    JsonValue root;
    Failure failure;
    if (!parseJsonDocument(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                           kDescriptionLimit, root, failure)) {
      invalid(failure.message);
    }
    expectMembers(root, "the description", {"id", "minVersion", "maxVersion", "revision", "items"});
    publish::GameDescription game;
    game.id = requiredString(root, "id");
    game.min_version = requiredString(root, "minVersion");
    game.max_version = requiredString(root, "maxVersion");
    if (!readRequiredUnsignedMember(root, "revision", game.revision)) invalid("\"revision\" must be a whole number");
    const std::optional<JsonValue> items = root.findMember("items");
    if (!items || items->kind() != JsonKind::Array) invalid("\"items\" must be an array");
    for (const JsonValue item : items->elements()) game.items.push_back(readItem(item));
    return game;
  }

 private:
  [[noreturn]] void invalid(const std::string& reason) const {
    tools::fail("game description " + path_ + ": " + reason);
  }

  void expectMembers(const JsonValue& object, const std::string& what, std::set<std::string_view> known) const {
    if (object.kind() != JsonKind::Object) invalid(what + " must be an object");
    for (const auto& [key, value] : object.members()) {
      if (!known.contains(key)) invalid(what + " has an unknown member \"" + std::string(key) + "\"");
    }
  }

  std::string requiredString(const JsonValue& object, std::string_view key) const {
    const std::optional<JsonValue> member = object.findMember(key);
    std::string text;
    if (!member || !readJsonString(*member, text)) invalid("\"" + std::string(key) + "\" must be a string");
    return text;
  }

  publish::GameItem readItem(const JsonValue& item) const {
    expectMembers(item, "an item", {"id", "kind", "path", "file", "dependsOn", "members", "mime"});
    publish::GameItem result;
    result.id = requiredString(item, "id");
    result.kind = requiredString(item, "kind");
    result.path = requiredString(item, "path");
    const std::string file = requiredString(item, "file");
    result.mime = std::string(mediaTypeOf(result.path));
    if (!readOptionalStringMember(item, "mime", result.mime) || !isPublishableMediaType(result.mime)) {
      invalid("\"mime\" of item " + result.id + " must be a lowercase media type (\"type/subtype\")");
    }
    if (const std::optional<JsonValue> members = item.findMember("members")) {
      if (members->kind() != JsonKind::Boolean) invalid("\"members\" must be true or false");
      result.members = members->text() == "true";
    }
    if (const std::optional<JsonValue> depends = item.findMember("dependsOn")) {
      if (depends->kind() != JsonKind::Array) invalid("\"dependsOn\" must be an array of item ids");
      for (const JsonValue dependency : depends->elements()) {
        std::string id;
        if (!readJsonString(dependency, id)) invalid("\"dependsOn\" must be an array of item ids");
        result.depends_on.push_back(std::move(id));
      }
    }
    const std::filesystem::path base = std::filesystem::path(path_).parent_path();
    result.bytes = readSourceFile(base / file, result.path);
    return result;
  }

  std::string path_;
};

}  // namespace

publish::GameDescription readGameDescription(const std::string& path) { return DescriptionReader(path).read(); }

}  // namespace vesmara::pack
