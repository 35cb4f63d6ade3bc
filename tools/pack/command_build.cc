// vkr-pack build: a folder of files in, an origin tree out.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "base/byte_writer.h"
#include "common/arguments.h"
#include "common/command_error.h"
#include "common/files.h"
#include "common/key_file.h"
#include "common/progress.h"
#include "common/table.h"
#include "hosts/platform.h"
#include "index/carrier_format.h"
#include "index/index_format.h"
#include "index/paths.h"
#include "media/png_carrier.h"
#include "pack/commands.h"
#include "pack/game_description.h"
#include "pack/media_types.h"
#include "pack/names.h"
#include "pack/source_tree.h"
#include "pack/staged_origin.h"
#include "publish/game_writer.h"
#include "publish/media/media_encoder.h"
#include "publish/site_builder.h"

namespace vesmara::pack {
namespace {

namespace fs = std::filesystem;

// Pictures are read whole before they are used.
constexpr std::uint64_t kMaxIconLength = 1048576;

constexpr std::string_view kHelp =
    "usage: vkr-pack build SRC_DIR OUT_DIR [OPTIONS]\n\n"
    "Publishes every file below SRC_DIR as an origin tree in OUT_DIR, which must\n"
    "not exist or be an empty folder (filled in place, keeping its owner and\n"
    "mode) and must not be inside SRC_DIR: the favicon carries the site's index,\n"
    "and each file's parts are spread over carrier files that any static web\n"
    "server can serve. Files are read a part at a time, so any size fits in a\n"
    "little memory. Nothing is written unless all of it is; a build that was\n"
    "killed is cleaned up by the next build into the same OUT_DIR.\n\n"
    "What a site holds: 1 to 4096 files (with a game's catalogue and items),\n"
    "each of 1 byte to 1 GiB (empty files are refused), named by paths below\n"
    "SRC_DIR of at most 495 bytes whose names hold only A-Z, a-z, 0-9, '-', '.'\n"
    "and '_'. Names beginning with '.' are skipped, as are FIFOs, sockets and\n"
    "devices; both are listed after the build. A symbolic link is refused.\n\n"
    "PATTERN is a path relative to SRC_DIR in which '*' and '?' match within a\n"
    "folder name and '**' across folders; without '/' it matches file names at\n"
    "any depth.\n\n"
    "  --entry PATH             the entry page (default index.html)\n"
    "  --type PATTERN=TYPE      the media type of matching files (default: by name)\n"
    "  --download PATTERN       deliver matching files as downloads\n"
    "  --include-hidden         publish names beginning with '.' too\n"
    "  --follow-links           publish what symbolic links point to, inside\n"
    "                           SRC_DIR or not (and for a game's item files)\n"
    "  --icon FILE              the ICO image the favicon shows\n"
    "  --encoding-key FILE      the site keystream key (default: a random one)\n"
    "  --no-encoding            store parts without the site keystream\n"
    "  --members PATTERN        seal matching files for members (repeatable)\n"
    "  --member-key FILE        the member content key, read from FILE\n"
    "  --new-member-key FILE    generate the member content key into FILE\n"
    "  --member-key-id ID       the key ID the index names (default \"members\")\n"
    "  --codec PATTERN=CODEC    hide matching files in media carriers; CODEC is\n"
    "                           png-lsb1, frame-luma1, frame-luma2 or wav-4fsk1\n"
    "                           (a frame holds 21 bytes, a recording 4096, less\n"
    "                           16 a part for members; a larger file takes as\n"
    "                           many carriers as it needs, up to 64 recordings)\n"
    "  --cover FILE             the PNG picture png-lsb1 hides parts in\n"
    "                           (default: a generated one)\n"
    "  --part-size BYTES        the largest part, 1 to 4194304 (default 1048576;\n"
    "                           a file has at most 16384 parts)\n"
    "  --carriers N             carrier files for the parts, 1 to 4096 (default 4)\n"
    "  --footer-version 1|2     the favicon footer's version (default 2)\n"
    "  --external PATH          keep the index sealed in the origin file PATH\n"
    "                           (\"/assets/private.bin\") instead of the favicon\n"
    "  --write-key-file FILE    with --external: write the key file that opens it\n"
    "  --write-credential FILE  with --external: write the ICO credential\n"
    "  --game FILE              publish the catalogue and items of a game\n"
    "                           description (JSON; see examples/site/game/game.json)\n"
    "  --seed N                 derive every random choice (keys, nonces, the key\n"
    "                           --new-member-key writes) from N, so that the same\n"
    "                           input gives the same bytes; anyone who knows N can\n"
    "                           derive them too: for tests and reproducible builds,\n"
    "                           never for secrets\n\n"
    "Key files hold 64 lowercase hex digits (or 32 raw bytes).\n";

constexpr tools::OptionRule kOptions[] = {
    {.name = "entry", .takes_value = true},
    {.name = "type", .takes_value = true, .repeatable = true},
    {.name = "download", .takes_value = true, .repeatable = true},
    {.name = "include-hidden"},
    {.name = "follow-links"},
    {.name = "icon", .takes_value = true},
    {.name = "encoding-key", .takes_value = true},
    {.name = "no-encoding"},
    {.name = "members", .takes_value = true, .repeatable = true},
    {.name = "member-key", .takes_value = true},
    {.name = "new-member-key", .takes_value = true},
    {.name = "member-key-id", .takes_value = true},
    {.name = "codec", .takes_value = true, .repeatable = true},
    {.name = "cover", .takes_value = true},
    {.name = "part-size", .takes_value = true},
    {.name = "carriers", .takes_value = true},
    {.name = "footer-version", .takes_value = true},
    {.name = "external", .takes_value = true},
    {.name = "write-key-file", .takes_value = true},
    {.name = "write-credential", .takes_value = true},
    {.name = "game", .takes_value = true},
    {.name = "seed", .takes_value = true},
};

// A file the build writes besides the origin tree.
struct SideFile {
  std::string path;
  std::vector<std::uint8_t> bytes;
  std::string what;
};

// "PATTERN=VALUE" pairs of a repeatable option.
std::vector<std::pair<std::string, std::string>> patternPairs(const tools::ParsedArguments& arguments,
                                                              std::string_view option) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const std::string& word : arguments.values(option)) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == word.size()) {
      throw tools::UsageError("--" + std::string(option) + " takes PATTERN=VALUE, not '" + word + "'");
    }
    pairs.emplace_back(word.substr(0, equals), word.substr(equals + 1));
  }
  return pairs;
}

SecretKey toSecretKey(const tools::Key& key) { return SecretKey(key.bytes()); }

// The member key --seed stands for: SHA-256 over a label of its own and the
// seed, so that it is none of the keys and nonces the seed gives the site.
bool deriveMemberKey(CryptoHost& crypto, std::uint64_t seed, tools::Key& key) {
  std::vector<std::uint8_t> input;
  ByteWriter writer(input);
  writer.writeText("vkr-pack member key");
  writer.writeU64(seed);
  Sha256Digest digest{};
  if (!computeSha256(crypto, input, digest)) return false;
  std::copy(digest.begin(), digest.end(), key.mutableBytes().begin());
  return true;
}

// An ICO file begins with a zero word, the type 1 and at least one image
// entry of 16 bytes.
bool looksLikeIco(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 22 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1 && bytes[3] == 0 &&
         (bytes[4] != 0 || bytes[5] != 0);
}

bool looksLikePng(std::span<const std::uint8_t> bytes) {
  static constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  return bytes.size() > sizeof kSignature && std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin());
}

std::string counted(std::uint64_t count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

// True when `inner` is `outer` or lies below it (both absolute and normal).
bool isWithin(const fs::path& inner, const fs::path& outer) {
  const auto [mismatch, unused] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  return mismatch == outer.end();
}

fs::path resolved(const fs::path& path) {
  std::error_code code;
  fs::path absolute = fs::weakly_canonical(fs::absolute(path, code), code);
  if (code) tools::fail("cannot resolve " + path.string() + ": " + code.message());
  while (!absolute.has_filename() && absolute.has_relative_path()) absolute = absolute.parent_path();
  return absolute;
}

class BuildCommand {
 public:
  BuildCommand(const tools::ParsedArguments& arguments, tools::InterruptWatcher& interrupts)
      : arguments_(arguments), interrupts_(interrupts) {}

  int run() {
    arguments_.requirePositionals(2, 2);
    crypto_ = defaultPlatform().makeCryptoHost();
    source_dir_ = arguments_.positionals()[0];
    out_dir_ = fs::path(arguments_.positionals()[1]).lexically_normal();
    // "site/" names the folder "site".
    while (!out_dir_.has_filename() && out_dir_.has_relative_path()) out_dir_ = out_dir_.parent_path();
    readOptions();
    checkOutputsAreFree();
    SourceTree tree = collectSources(source_dir_, rules_);
    std::vector<publish::SourceFile>& sources = tree.files;
    if (const auto game = arguments_.value("game")) addGame(*game, sources);
    checkEntry(sources);
    checkMemberKeyIsGiven(sources);
    interrupts_.throwIfInterrupted();

    if (new_member_key_path_) generateMemberKey();
    StagedOrigin origin(out_dir_, interrupts_);
    publish::PublishedSite site;
    Failure failure;
    if (!publish::publishSite(*crypto_, sources, options_, origin, site, failure)) {
      interrupts_.throwIfInterrupted();
      tools::fail(failure.message);
    }
    interrupts_.throwIfInterrupted();
    if (arguments_.has("write-key-file")) {
      side_files_.push_back({*arguments_.value("write-key-file"),
                             std::vector<std::uint8_t>(site.key_file.begin(), site.key_file.end()), "key file"});
    }
    if (arguments_.has("write-credential")) {
      side_files_.push_back({*arguments_.value("write-credential"), site.credential, "ICO credential"});
    }
    writeOutputs(origin);
    printSummary(tree, site, origin);
    return 0;
  }

 private:
  void readOptions() {
    options_.entry = arguments_.value("entry").value_or(options_.entry);
    rules_.members = arguments_.values("members");
    rules_.downloads = arguments_.values("download");
    rules_.follow_links = arguments_.has("follow-links");
    rules_.include_hidden = arguments_.has("include-hidden");
    rules_.types = patternPairs(arguments_, "type");
    for (const auto& [pattern, type] : rules_.types) {
      if (!isPublishableMediaType(type)) {
        throw tools::UsageError("--type " + pattern + "=" + type +
                                ": a media type is lowercase \"type/subtype\" of at most 100 bytes");
      }
    }
    rules_.codecs = patternPairs(arguments_, "codec");
    for (const auto& [pattern, codec] : rules_.codecs) {
      if (!isMediaCodec(codec)) throw tools::UsageError("unknown codec '" + codec + "'");
    }
    publish::MediaOptions media;
    if (const auto cover = arguments_.value("cover")) {
      media.cover = tools::readLimitedFile(*cover, kMaxPngCarrierLength, "64 MiB");
      if (!looksLikePng(media.cover)) tools::fail("--cover " + *cover + " is not a PNG picture");
    }
    options_.media_encoder = publish::makeMediaEncoder(*crypto_, std::move(media));
    if (const auto part_size = arguments_.value("part-size")) {
      options_.part_size = tools::parseNumberOption("part-size", *part_size, 1, kMaxPlainPartLength);
    }
    if (const auto carriers = arguments_.value("carriers")) {
      options_.carrier_count = tools::parseNumberOption("carriers", *carriers, 1, 4096);
    }
    if (const auto version = arguments_.value("footer-version")) {
      options_.footer_version = static_cast<std::uint16_t>(tools::parseNumberOption("footer-version", *version, 1, 2));
    }
    if (const auto seed = arguments_.value("seed")) {
      options_.seed = tools::parseNumberOption("seed", *seed, 0, UINT64_MAX);
    }
    if (const auto icon = arguments_.value("icon")) {
      options_.icon = tools::readLimitedFile(*icon, kMaxIconLength, "1 MiB");
      if (!looksLikeIco(options_.icon)) tools::fail("--icon " + *icon + " is not an ICO image");
    }
    readKeyOptions();
    readExternalOptions();
  }

  void readKeyOptions() {
    if (arguments_.has("no-encoding")) {
      if (arguments_.has("encoding-key")) throw tools::UsageError("--no-encoding and --encoding-key exclude each other");
      options_.encode = false;
    } else if (const auto path = arguments_.value("encoding-key")) {
      options_.encoding_key = toSecretKey(tools::readKeyFile(*path));
    }
    const auto key_path = arguments_.value("member-key");
    new_member_key_path_ = arguments_.value("new-member-key");
    if (key_path && new_member_key_path_) {
      throw tools::UsageError("--member-key and --new-member-key exclude each other");
    }
    if (key_path) options_.member_key = toSecretKey(tools::readKeyFile(*key_path));
    options_.member_key_id = arguments_.value("member-key-id").value_or(options_.member_key_id);
    if (options_.member_key_id.empty() || options_.member_key_id.size() > kMaxMemberKeyIdLength) {
      throw tools::UsageError("--member-key-id must be 1 to " + std::to_string(kMaxMemberKeyIdLength) + " bytes");
    }
  }

  void readExternalOptions() {
    const bool writes = arguments_.has("write-key-file") || arguments_.has("write-credential");
    if (const auto path = arguments_.value("external")) {
      if (!writes) throw tools::UsageError("--external needs --write-key-file or --write-credential");
      if (!isExternalCarrierPath(*path) || path->size() > carrier::kMaxTokenPathLength) {
        throw tools::UsageError("--external " + *path + " is not an origin path such as /assets/private.bin");
      }
      options_.external_index_path = *path;
    } else if (writes) {
      throw tools::UsageError("--write-key-file and --write-credential need --external");
    }
  }

  // Refuses, before any work, outputs that are already taken, and an output
  // the next build of the source would publish. What an interrupted build
  // into the output left there is removed first.
  void checkOutputsAreFree() {
    std::error_code code;
    for (const char* option : {"new-member-key", "write-key-file", "write-credential"}) {
      if (const auto path = arguments_.value(option)) tools::refuseExisting(*path);
    }
    const fs::path source = resolved(source_dir_);
    const fs::path out = resolved(out_dir_);
    if (isWithin(out, source)) {
      tools::fail("the output folder " + out_dir_.string() + " is inside the source folder " + source_dir_.string() +
                  ", whose next build would publish it");
    }
    if (isWithin(source, out)) {
      tools::fail("the source folder " + source_dir_.string() + " is inside the output folder " + out_dir_.string());
    }
    if (fs::exists(out_dir_, code)) {
      if (!fs::is_directory(out_dir_, code)) tools::fail(out_dir_.string() + " exists and is not a folder");
      recovered_ = recoverInterruptedBuild(out_dir_);
      if (!fs::is_empty(out_dir_, code)) tools::fail("output folder " + out_dir_.string() + " is not empty");
    }
  }

  // The index accepts only an HTML entry page delivered to the app.
  void checkEntry(const std::vector<publish::SourceFile>& sources) const {
    const auto entry = std::find_if(sources.begin(), sources.end(), [this](const publish::SourceFile& source) {
      return source.name == options_.entry;
    });
    if (entry == sources.end()) {
      tools::fail("the entry page " + options_.entry + " is not in " + source_dir_.string() + " (see --entry)");
    }
    if (!entry->mime.starts_with("text/html")) {
      tools::fail("the entry page " + entry->name + " is " + entry->mime + ", not HTML (see --entry)");
    }
    if (entry->download) tools::fail("the entry page " + entry->name + " cannot be delivered as a --download");
  }

  void checkMemberKeyIsGiven(const std::vector<publish::SourceFile>& sources) const {
    const bool members =
        std::any_of(sources.begin(), sources.end(), [](const publish::SourceFile& source) { return source.members; });
    if (members && !options_.member_key && !new_member_key_path_) {
      throw tools::UsageError("files for members need --member-key FILE or --new-member-key FILE");
    }
  }

  void addGame(const std::string& path, std::vector<publish::SourceFile>& sources) {
    publish::GameDescription game = readGameDescription(path, rules_.follow_links);
    Failure failure;
    if (!publish::addGameToSources(game, sources, failure))
      tools::fail("game description " + path + ": " + failure.message);
    game_summary_ = game.id + " revision " + std::to_string(game.revision) + ", " + counted(game.items.size(), "item");
  }

  void generateMemberKey() {
    tools::Key key;
    const bool made =
        options_.seed ? deriveMemberKey(*crypto_, *options_.seed, key) : crypto_->randomBytes(key.mutableBytes());
    if (!made) tools::fail("the random generator failed");
    options_.member_key = toSecretKey(key);
    const std::string text = tools::formatKeyFile(key);
    side_files_.push_back({*new_member_key_path_, std::vector<std::uint8_t>(text.begin(), text.end()),
                           options_.seed ? "member key (derived from --seed: not secret)" : "member key"});
  }

  // The side files first, then the tree: a build stopped in between leaves
  // side files that the next build names as already there, never a site
  // without its keys. A failure removes what was written.
  void writeOutputs(StagedOrigin& origin) {
    std::vector<std::string> written;
    try {
      for (const SideFile& file : side_files_) {
        tools::writeNewFile(file.path, file.bytes, /*secret=*/true);
        written.push_back(file.path);
      }
      origin.commit();
    } catch (...) {
      std::error_code code;
      for (const std::string& path : written) fs::remove(path, code);
      throw;
    }
  }

  void printSummary(const SourceTree& tree, const publish::PublishedSite& site, const StagedOrigin& origin) const {
    const std::vector<publish::SourceFile>& sources = tree.files;
    tools::Table table({"FILE", "LENGTH", "ACCESS", "DELIVERY", "CARRIER"}, {false, true});
    for (const publish::SourceFile& source : sources) {
      table.addRow({printableName(source.name), std::to_string(source.length()),
                    source.members ? "members" : "public", source.download ? "download" : "app",
                    source.codec.empty() ? "plain" : source.codec});
    }
    std::fputs(table.render().c_str(), stdout);
    std::printf("\npublished %s into %s: %s, %s\n", counted(sources.size(), "file").c_str(), out_dir_.c_str(),
                counted(origin.fileCount(), "origin file").c_str(), tools::formatByteCount(origin.byteCount()).c_str());
    std::printf("index     %s, digest %s\n",
                options_.external_index_path ? ("sealed in " + *options_.external_index_path).c_str() : "in /favicon.ico",
                site.index_digest.c_str());
    if (!game_summary_.empty()) std::printf("game      %s\n", game_summary_.c_str());
    for (const SideFile& file : side_files_) std::printf("%s written to %s\n", file.what.c_str(), file.path.c_str());
    for (const std::string& skipped : tree.skipped) std::printf("skipped   %s\n", skipped.c_str());
    if (recovered_) std::printf("removed   what an interrupted build had left in %s\n", out_dir_.c_str());
  }

  const tools::ParsedArguments& arguments_;
  tools::InterruptWatcher& interrupts_;
  std::unique_ptr<CryptoHost> crypto_;
  fs::path source_dir_;
  fs::path out_dir_;
  SourceRules rules_;
  publish::SiteOptions options_;
  bool recovered_ = false;
  std::optional<std::string> new_member_key_path_;
  std::vector<SideFile> side_files_;
  std::string game_summary_;
};

}  // namespace

int runBuild(Words words, tools::InterruptWatcher& interrupts) {
  const auto arguments = tools::parseCommandLine(words, kOptions, kHelp);
  if (!arguments) return 0;
  return BuildCommand(*arguments, interrupts).run();
}

}  // namespace vesmara::pack
