#include "pack/game_description.h"

#include <filesystem>
#include <map>
#include <set>

#include "common/command_error.h"
#include "common/files.h"
#include "game/catalogue.h"
#include "json/json.h"
#include "pack/file_content.h"
#include "pack/media_types.h"
#include "pack/names.h"

namespace vesmara::pack {
namespace {

// A description is small; its item files are read separately.
constexpr std::uint64_t kDescriptionLimit = 1048576;

class DescriptionReader {
 public:
  DescriptionReader(std::string path, bool follow_links) : path_(std::move(path)), follow_links_(follow_links) {}

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
    checkItems(game);
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
    result.content = fileContent(itemFile(result.id, file), "the file of item " + printableName(result.id),
                                 follow_links_);
    return result;
  }

  // The item's file, which must lie below the description's folder: reached
  // without leaving it, and without links unless they are followed.
  std::filesystem::path itemFile(const std::string& id, const std::string& file) const {
    namespace fs = std::filesystem;
    const std::string item = "item " + printableName(id) + ": ";
    const fs::path relative = fs::path(file).lexically_normal();
    if (file.empty() || relative.is_absolute() || *relative.begin() == "..") {
      invalid(item + "\"file\" " + printableName(file) + " must be a path inside the description's folder");
    }
    const fs::path base = fs::path(path_).parent_path();
    fs::path reached = base;
    for (const fs::path& step : relative) {
      reached /= step;
      std::error_code code;
      if (!follow_links_ && fs::is_symlink(fs::symlink_status(reached, code))) {
        invalid(item + printableName(reached.string()) +
                " is a symbolic link, which is not followed (see --follow-links)");
      }
    }
    return reached;
  }

  // The catalogue's rules on item ids and paths, checked here so that the
  // message names the item that breaks one.
  void checkItems(const publish::GameDescription& game) const {
    std::map<std::string_view, std::string_view> owners;  // path -> id
    std::set<std::string_view> ids;
    for (const publish::GameItem& item : game.items) {
      const std::string name = "item " + printableName(item.id);
      if (!isValidGameIdentifier(item.id)) {
        invalid(name + ": an item id is 1 to 64 of a-z, 0-9, '-', '.' and '_', beginning with a letter or digit");
      }
      if (!ids.insert(item.id).second) invalid(name + ": another item has the same id");
      if (const std::string problem = itemPathProblem(item.path); !problem.empty()) {
        invalid(name + ": \"path\" " + printableName(item.path) + ": " + problem);
      }
      if (const auto [owner, added] = owners.emplace(item.path, item.id); !added) {
        invalid(name + ": \"path\" " + printableName(item.path) + " is the path of item " +
                printableName(std::string(owner->second)) + " too");
      }
    }
  }

  std::string path_;
  bool follow_links_;
};

}  // namespace

publish::GameDescription readGameDescription(const std::string& path, bool follow_links) {
  return DescriptionReader(path, follow_links).read();
}

}  // namespace vesmara::pack
