// vkr verify: every resource of a site read and checked as a reader would,
// the game catalogue with it: what a publisher runs after deploying.
#include <cstdio>
#include <memory>

#include "common/arguments.h"
#include "common/command_error.h"
#include "common/files.h"
#include "common/key_file.h"
#include "common/table.h"
#include "vkr/commands.h"
#include "vkr/json_writer.h"
#include "vkr/library.h"

namespace vesmara::vkr {
namespace {

constexpr std::string_view kHelp =
    "usage: vkr verify ORIGIN [--key FILE] [--external KEYFILE] [--json]\n\n"
    "Reads every resource of the site at ORIGIN through the library, with every\n"
    "check a reader makes, and keeps nothing: the check to run after deploying\n"
    "a site to a web server or CDN. Members resources are read with --key, and\n"
    "skipped without it. When the site has a game catalogue, it must also be\n"
    "public, parse, and name only resources of the index.\n\n"
    "Prints a row per resource (path, bytes, access, result) as it is read, then\n"
    "a summary. Exits with the status of the first failure (see 'vkr --help'),\n"
    "naming every path that failed; 0 when everything read was verified.\n"
    "Resources over 64 MiB pass through a private temporary file, removed at once.\n\n"
    "  --key FILE          the member content key, for members resources\n"
    "  --external KEYFILE  load the index from external key material (a key file\n"
    "                      or an ICO credential) instead of the origin's favicon\n"
    "  --json              print one JSON object instead of the table\n";

// How many failing paths the final message names.
constexpr std::size_t kNamedFailures = 5;

struct Outcome {
  vkr_preview_status status = VKR_PREVIEW_OK;
  std::string message;
  bool skipped = false;
};

Outcome outcomeOf(vkr_preview_status status, const char* message, const tools::InterruptWatcher& interrupts) {
  if (status == VKR_PREVIEW_CANCELLED && interrupts.interrupted()) throw tools::Interrupted(interrupts.signalNumber());
  if (status == VKR_PREVIEW_OK) return {};
  return {status, message[0] != '\0' ? message : describeStatus(status)};
}

// Reads resource `info` in full; its bytes stay in `bytes` when it fits in memory.
Outcome readResource(const Site& site, const ResourceInfo& info, const MemberKey& key, std::vector<std::uint8_t>& bytes,
                     tools::InterruptWatcher& interrupts) {
  char message[kMessageCapacity] = "";
  if (info.length > kMemoryReadLimit) {
    bytes.clear();
    const tools::TemporaryDirectory scratch("vkr-verify");
    const std::string file = scratch.path() + "/resource";
    std::uint64_t written = 0;
    const vkr_preview_status status = runCancellable(interrupts, [&](vkr_preview_operation* operation) {
      return vkr_preview_site_download_operation(site.handle(), operation, info.path.data(), info.path.size(),
                                                 key.data(), key.size(), file.data(), file.size(), &written, message,
                                                 sizeof message);
    });
    return outcomeOf(status, message, interrupts);
  }
  bytes.resize(static_cast<std::size_t>(info.length));
  std::uint64_t read = 0;
  const vkr_preview_status status = runCancellable(interrupts, [&](vkr_preview_operation* operation) {
    return vkr_preview_site_read_memory_operation(site.handle(), operation, info.path.data(), info.path.size(),
                                                  key.data(), key.size(), bytes.empty() ? nullptr : bytes.data(),
                                                  bytes.size(), &read, message, sizeof message);
  });
  return outcomeOf(status, message, interrupts);
}

struct CatalogueRelease {
  void operator()(vkr_preview_catalogue* catalogue) const { vkr_preview_catalogue_release(catalogue); }
};

// What a game refresh requires of a verified catalogue beyond its own
// game and version: public access (in a site with members resources), a
// document that parses, and items that are all resources of the index.
Outcome checkCatalogue(const Site& site, const ResourceInfo& info, const std::vector<std::uint8_t>& bytes,
                       std::string& summary) {
  if (info.access != "public") return {VKR_PREVIEW_INVALID_DATA, "the game catalogue must be public"};
  char message[kMessageCapacity] = "";
  vkr_preview_catalogue* raw = nullptr;
  const vkr_preview_status status =
      vkr_preview_catalogue_parse(bytes.data(), bytes.size(), &raw, message, sizeof message);
  if (status != VKR_PREVIEW_OK) return {status, message[0] != '\0' ? message : describeStatus(status)};
  const std::unique_ptr<vkr_preview_catalogue, CatalogueRelease> catalogue(raw);
  std::uint64_t revision = 0;
  std::uint64_t count = 0;
  vkr_preview_catalogue_revision(raw, &revision);
  vkr_preview_catalogue_item_count(raw, &count);
  for (std::uint64_t i = 0; i < count; ++i) {
    const auto field = [raw, i](std::uint32_t selector) {
      return readLibraryString([raw, i, selector](char* buffer, std::uint64_t capacity, std::uint64_t* length) {
        return vkr_preview_catalogue_item_string(raw, i, selector, buffer, capacity, length);
      });
    };
    const std::string path = field(VKR_PREVIEW_ITEM_PATH);
    if (!site.findResource(site.resolvePath(path))) {
      return {VKR_PREVIEW_INVALID_DATA,
              "item " + field(VKR_PREVIEW_ITEM_ID) + " names " + path + ", which is not a resource of the index"};
    }
  }
  summary = "game catalogue revision " + std::to_string(revision) + ", " + std::to_string(count) + " item" +
            (count == 1 ? "" : "s");
  return {};
}

std::string resultText(const Outcome& outcome, const std::string& note) {
  if (outcome.skipped) return "skipped: members, no --key";
  if (outcome.status != VKR_PREVIEW_OK) return "FAILED: " + outcome.message;
  return note.empty() ? "ok" : "ok (" + note + ")";
}

}  // namespace

int runVerify(Words words, tools::InterruptWatcher& interrupts) {
  static constexpr tools::OptionRule kOptions[] = {
      {.name = "key", .takes_value = true},
      {.name = "external", .takes_value = true},
      {.name = "json"},
  };
  const auto arguments = tools::parseCommandLine(words, kOptions, kHelp);
  if (!arguments) return 0;
  arguments->requirePositionals(1, 1);
  const std::string& origin = arguments->positionals()[0];
  MemberKey key;
  if (const auto path = arguments->value("key")) key.key = tools::readKeyFile(*path);
  std::optional<ExternalKeyMaterial> external;
  if (const auto path = arguments->value("external")) external = readExternalKeyMaterial(*path);
  const bool as_json = arguments->has("json");
  const Site site(origin, external, interrupts);

  const std::uint64_t count = site.resourceCount();
  std::vector<ResourceInfo> resources;
  tools::Table table({"PATH", "BYTES", "ACCESS", "RESULT"}, {false, true});
  for (std::uint64_t i = 0; i < count; ++i) {
    resources.push_back(site.resource(i));
    table.addRow({resources.back().path, std::to_string(resources.back().length), resources.back().access, ""});
  }
  const std::string catalogue_path = site.resolvePath("game/catalogue.json");
  JsonWriter json;
  json.beginObject().key("origin").string(origin).key("resources").beginArray();
  if (!as_json) std::fputs(table.renderRow({"PATH", "BYTES", "ACCESS", "RESULT"}).c_str(), stdout);

  std::uint64_t verified = 0;
  std::uint64_t skipped = 0;
  std::vector<std::string> failed;
  vkr_preview_status first_failure = VKR_PREVIEW_OK;
  std::vector<std::uint8_t> bytes;
  for (const ResourceInfo& info : resources) {
    Outcome outcome;
    std::string note;
    if (info.access == "members" && !key.key) {
      outcome.skipped = true;
    } else {
      outcome = readResource(site, info, key, bytes, interrupts);
      if (outcome.status == VKR_PREVIEW_OK && info.path == catalogue_path) {
        outcome = checkCatalogue(site, info, bytes, note);
      }
    }
    if (outcome.skipped) {
      ++skipped;
    } else if (outcome.status == VKR_PREVIEW_OK) {
      ++verified;
    } else {
      failed.push_back(info.path);
      if (first_failure == VKR_PREVIEW_OK) first_failure = outcome.status;
    }
    if (as_json) {
      json.beginObject().key("path").string(info.path).key("bytes").number(info.length);
      json.key("access").string(info.access);
      json.key("result").string(outcome.skipped ? "skipped" : outcome.status == VKR_PREVIEW_OK ? "verified" : "failed");
      if (outcome.status != VKR_PREVIEW_OK)
        json.key("status").number(outcome.status).key("message").string(outcome.message);
      if (!note.empty()) json.key("note").string(note);
      json.endObject();
    } else {
      std::fputs(
          table.renderRow({info.path, std::to_string(info.length), info.access, resultText(outcome, note)}).c_str(),
          stdout);
      std::fflush(stdout);
    }
  }
  json.endArray().key("verified").number(verified).key("skipped").number(skipped).key("failed").number(failed.size());
  json.endObject();
  if (as_json) {
    std::fputs(json.text().c_str(), stdout);
  } else {
    std::printf("%llu of %llu resources verified", static_cast<unsigned long long>(verified),
                static_cast<unsigned long long>(count));
    if (skipped > 0)
      std::printf(", %llu members resources skipped (give --key)", static_cast<unsigned long long>(skipped));
    std::printf(", %zu failed\n", failed.size());
  }
  if (failed.empty()) return 0;
  std::string named;
  for (std::size_t i = 0; i < failed.size() && i < kNamedFailures; ++i) named += (i > 0 ? ", " : "") + failed[i];
  if (failed.size() > kNamedFailures) named += " and " + std::to_string(failed.size() - kNamedFailures) + " more";
  throw tools::CommandError(static_cast<int>(first_failure), origin + ": " + std::to_string(failed.size()) + " of " +
                                                                 std::to_string(count) +
                                                                 " resources failed verification: " + named);
}

}  // namespace vesmara::vkr
