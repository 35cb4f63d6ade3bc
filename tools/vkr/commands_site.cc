// vkr info, ls, cat and get: one site, its index and its resources.
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "common/arguments.h"
#include "common/command_error.h"
#include "common/files.h"
#include "common/progress.h"
#include "common/table.h"
#include "vkr/commands.h"
#include "vkr/json_writer.h"
#include "vkr/library.h"

namespace vesmara::vkr {
namespace {

constexpr tools::OptionRule kExternalOption{.name = "external", .takes_value = true};
constexpr tools::OptionRule kKeyOption{.name = "key", .takes_value = true};
constexpr tools::OptionRule kOutputOption{.name = "output", .short_name = 'o', .takes_value = true};
constexpr tools::OptionRule kJsonOption{.name = "json"};

constexpr std::string_view kExternalHelp =
    "  --external KEYFILE  load the index from external key material (a key file\n"
    "                      or an ICO credential) instead of the origin's favicon\n";
constexpr std::string_view kKeyHelp = "  --key FILE          the member content key, for members resources\n";
constexpr std::string_view kJsonHelp = "  --json              print one JSON object instead of text\n";

void writeText(const std::string& text) {
  tools::writeStandardOutput(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::optional<ExternalKeyMaterial> externalOf(const tools::ParsedArguments& arguments) {
  if (const auto path = arguments.value(kExternalOption.name)) return readExternalKeyMaterial(*path);
  return std::nullopt;
}

MemberKey memberKeyOf(const tools::ParsedArguments& arguments) {
  MemberKey key;
  if (const auto path = arguments.value(kKeyOption.name)) key.key = tools::readKeyFile(*path);
  return key;
}

// What cat and get start from: the member key, the loaded site, the full
// path of the resource and, when the index has it, its length.
struct ResourceRequest {
  MemberKey key;
  std::unique_ptr<Site> site;
  std::string path;
  std::optional<std::uint64_t> length;
};

ResourceRequest openResource(const tools::ParsedArguments& arguments, tools::InterruptWatcher& interrupts) {
  arguments.requirePositionals(2, 2);
  ResourceRequest request;
  request.key = memberKeyOf(arguments);
  request.site = std::make_unique<Site>(arguments.positionals()[0], externalOf(arguments), interrupts);
  request.path = request.site->resolvePath(arguments.positionals()[1]);
  if (const std::optional<std::uint64_t> index = request.site->findResource(request.path)) {
    request.length = request.site->resource(*index).length;
  }
  return request;
}

std::uint64_t download(const Site& site, const std::string& path, const MemberKey& key, const std::string& destination,
                       tools::InterruptWatcher& interrupts) {
  char message[kMessageCapacity];
  std::uint64_t written = 0;
  const vkr_preview_status status = runCancellable(interrupts, [&](vkr_preview_operation* operation) {
    return vkr_preview_site_download_operation(site.handle(), operation, path.data(), path.size(), key.data(),
                                               key.size(), destination.data(), destination.size(), &written, message,
                                               sizeof message);
  });
  checkStatus(status, message, interrupts, downloadSubject(status, path, destination), memberKeyHint(status, key));
  return written;
}

// Streams a resource too large for memory: a verified download into a
// private directory, copied out once complete.
void catLarge(const Site& site, const std::string& path, const MemberKey& key, tools::InterruptWatcher& interrupts) {
  const tools::TemporaryDirectory directory("vkr-cat");
  const std::string file = directory.path() + "/resource";
  download(site, path, key, file, interrupts);
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "rb"), std::fclose);
  if (!in) tools::fail("cannot read the downloaded resource");
  std::vector<std::uint8_t> chunk(1 << 20);
  while (const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), in.get())) {
    interrupts.throwIfInterrupted();
    tools::writeStandardOutput(std::span(chunk.data(), got));
  }
  if (std::ferror(in.get()) != 0) tools::fail("cannot read the downloaded resource");
}

void listAsJson(const Site& site, const std::string& origin) {
  JsonWriter json;
  json.beginObject();
  json.key("origin").string(origin);
  json.key("resources").beginArray();
  const std::uint64_t count = site.resourceCount();
  for (std::uint64_t i = 0; i < count; ++i) {
    const ResourceInfo info = site.resource(i);
    json.beginObject();
    json.key("path").string(info.path);
    json.key("length").number(info.length);
    json.key("type").string(info.mime);
    json.key("access").string(info.access);
    json.key("delivery").string(info.delivery);
    json.key("sha256").string(info.sha256);
    json.endObject();
  }
  json.endArray();
  json.endObject();
  writeText(json.text());
}

}  // namespace

int runInfo(Words words, tools::InterruptWatcher& interrupts) {
  static constexpr tools::OptionRule kOptions[] = {kExternalOption, kJsonOption};
  static const std::string kHelp = std::string(
      "usage: vkr info ORIGIN [--external KEYFILE] [--json]\n\n"
      "Loads and verifies the site's index and prints its entry page, its member\n"
      "key ID (\"(none)\" when the site has no members resources; null in JSON)\n"
      "and its resource count.\n\n") + std::string(kExternalHelp) + std::string(kJsonHelp);
  const auto arguments = tools::parseCommandLine(words, kOptions, kHelp);
  if (!arguments) return 0;
  arguments->requirePositionals(1, 1);
  const Site site(arguments->positionals()[0], externalOf(*arguments), interrupts);
  const std::string key_id = site.memberKeyId();
  if (arguments->has(kJsonOption.name)) {
    JsonWriter json;
    json.beginObject();
    json.key("origin").string(arguments->positionals()[0]);
    json.key("entry").string(site.entryPath());
    json.key("memberKeyId");
    key_id.empty() ? json.null() : json.string(key_id);
    json.key("resources").number(site.resourceCount());
    json.endObject();
    writeText(json.text());
    return 0;
  }
  std::printf("entry          %s\nmember key id  %s\nresources      %llu\n", site.entryPath().c_str(),
              key_id.empty() ? "(none)" : key_id.c_str(), static_cast<unsigned long long>(site.resourceCount()));
  return 0;
}

int runList(Words words, tools::InterruptWatcher& interrupts) {
  static constexpr tools::OptionRule kOptions[] = {kExternalOption, kJsonOption};
  static const std::string kHelp = std::string(
      "usage: vkr ls ORIGIN [--external KEYFILE] [--json]\n\n"
      "Lists the resources of the site's verified index: path, length in bytes,\n"
      "media type, access (public or members), delivery (app or download) and\n"
      "the SHA-256 every read is checked against.\n\n") + std::string(kExternalHelp) + std::string(kJsonHelp);
  const auto arguments = tools::parseCommandLine(words, kOptions, kHelp);
  if (!arguments) return 0;
  arguments->requirePositionals(1, 1);
  const Site site(arguments->positionals()[0], externalOf(*arguments), interrupts);
  if (arguments->has(kJsonOption.name)) {
    listAsJson(site, arguments->positionals()[0]);
    return 0;
  }
  tools::Table table({"PATH", "LENGTH", "TYPE", "ACCESS", "DELIVERY", "SHA-256"}, {false, true});
  const std::uint64_t count = site.resourceCount();
  for (std::uint64_t i = 0; i < count; ++i) {
    ResourceInfo info = site.resource(i);
    table.addRow({std::move(info.path), std::to_string(info.length), std::move(info.mime), std::move(info.access),
                  std::move(info.delivery), std::move(info.sha256)});
  }
  writeText(table.render());
  return 0;
}

int runCat(Words words, tools::InterruptWatcher& interrupts) {
  static constexpr tools::OptionRule kOptions[] = {kExternalOption, kKeyOption};
  static const std::string kHelp = std::string(
      "usage: vkr cat ORIGIN PATH [--key FILE] [--external KEYFILE]\n\n"
      "Writes resource PATH to standard output once all of it has been fetched and\n"
      "verified; nothing is written when any check fails. PATH is a full resource\n"
      "path as 'vkr ls' shows it, or a path relative to the folder of the site's\n"
      "pages (\"index.html\").\n\n") + std::string(kKeyHelp) + std::string(kExternalHelp);
  const auto arguments = tools::parseCommandLine(words, kOptions, kHelp);
  if (!arguments) return 0;
  const ResourceRequest request = openResource(*arguments, interrupts);
  const std::uint64_t length = request.length.value_or(0);
  if (length > kMemoryReadLimit) {
    catLarge(*request.site, request.path, request.key, interrupts);
    return 0;
  }
  // An unknown path still goes to the library, which reports it.
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
  char message[kMessageCapacity];
  std::uint64_t read = 0;
  const vkr_preview_status status = runCancellable(interrupts, [&](vkr_preview_operation* operation) {
    return vkr_preview_site_read_memory_operation(request.site->handle(), operation, request.path.data(),
                                                  request.path.size(), request.key.data(), request.key.size(),
                                                  bytes.empty() ? nullptr : bytes.data(), bytes.size(), &read,
                                                  message, sizeof message);
  });
  checkStatus(status, message, interrupts, "reading " + request.path, memberKeyHint(status, request.key));
  tools::writeStandardOutput(std::span(bytes.data(), static_cast<std::size_t>(read)));
  return 0;
}

int runGet(Words words, tools::InterruptWatcher& interrupts) {
  static constexpr tools::OptionRule kOptions[] = {kExternalOption, kKeyOption, kOutputOption};
  static const std::string kHelp = std::string(
      "usage: vkr get ORIGIN PATH [-o FILE] [--key FILE] [--external KEYFILE]\n\n"
      "Downloads resource PATH into FILE (by default its last path segment, in the\n"
      "current folder; when FILE is a folder, that name inside it). The file\n"
      "appears only once every byte is verified; an existing file is never\n"
      "replaced, and after a failure or Ctrl-C nothing is left. On a terminal a\n"
      "progress bar is shown on standard error.\n\n"
      "  -o, --output FILE   where to save it: a file, or a folder\n") +
      std::string(kKeyHelp) + std::string(kExternalHelp);
  const auto arguments = tools::parseCommandLine(words, kOptions, kHelp);
  if (!arguments) return 0;
  const ResourceRequest request = openResource(*arguments, interrupts);
  const std::string destination = downloadDestination(arguments->value(kOutputOption.name), request.path);
  tools::DownloadProgress progress(destination, request.length.value_or(0), tools::isTerminal(STDERR_FILENO));
  progress.finish(download(*request.site, request.path, request.key, destination, interrupts));
  return 0;
}

}  // namespace vesmara::vkr
