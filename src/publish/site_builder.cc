#include "publish/site_builder.h"

#include <algorithm>
#include <set>

#include "base/byte_writer.h"
#include "base/hex.h"
#include "base/wipe.h"
#include "index/external_index.h"
#include "index/index_format.h"
#include "index/paths.h"
#include "publish/carrier_writer.h"
#include "publish/external_writer.h"
#include "publish/index_writer.h"
#include "retrieval/part_format.h"

namespace vesmara::publish {
namespace {

// Random bytes for keys and nonces: from the system generator, or, with a
// seed, from SHA-256 over the seed and a counter so that output repeats.
class RandomSource {
 public:
  RandomSource(CryptoHost& crypto, std::optional<std::uint64_t> seed) : crypto_(crypto), seed_(seed) {}

  bool fill(std::span<std::uint8_t> out) {
    if (!seed_) return crypto_.randomBytes(out);
    std::size_t done = 0;
    while (done < out.size()) {
      std::vector<std::uint8_t> input;
      ByteWriter writer(input);
      writer.writeText("vkr-publish-seed");
      writer.writeU64(*seed_);
      writer.writeU64(counter_++);
      Sha256Digest block{};
      if (!computeSha256(crypto_, input, block)) return false;
      const std::size_t take = std::min(block.size(), out.size() - done);
      std::copy_n(block.begin(), take, out.begin() + static_cast<std::ptrdiff_t>(done));
      done += take;
    }
    return true;
  }

 private:
  CryptoHost& crypto_;
  std::optional<std::uint64_t> seed_;
  std::uint64_t counter_ = 0;
};

class SiteBuilder {
 public:
  SiteBuilder(CryptoHost& crypto, const SiteOptions& options, BuiltSite& site, Failure& failure)
      : crypto_(crypto), options_(options), site_(site), failure_(failure), random_(crypto, options.seed) {}

  bool build(const std::vector<SourceFile>& sources) {
    if (!checkOptions(sources) || !chooseKeys()) return false;
    std::vector<const SourceFile*> ordered;
    for (const SourceFile& source : sources) ordered.push_back(&source);
    std::sort(ordered.begin(), ordered.end(),
              [](const SourceFile* a, const SourceFile* b) { return a->name < b->name; });
    for (const SourceFile* source : ordered) {
      if (!addResource(*source)) return false;
    }
    for (std::size_t i = 0; i < carriers_.size(); ++i) {
      if (!carriers_[i].empty()) site_.files[carrierPath(i)] = std::move(carriers_[i]);
    }
    return writeIndex();
  }

 private:
  // Input the readers would refuse.
  bool fail(std::string_view message) { return failure_.fail(FailureKind::InvalidData, message); }
  bool failProvider(std::string_view message) { return failure_.fail(FailureKind::Provider, message); }

  std::string carrierPath(std::size_t i) const {
    std::string number = std::to_string(i);
    return options_.carrier_prefix + std::string(number.size() < 2 ? 2 - number.size() : 0, '0') + number + ".bin";
  }

  bool checkOptions(const std::vector<SourceFile>& sources) {
    if (options_.part_size < 1 || options_.part_size > kMaxPlainPartLength) {
      return fail("Part size must be 1 to 4194304 bytes");
    }
    if (options_.carrier_count < 1 || options_.carrier_count > 4096) return fail("Carrier count must be 1 to 4096");
    if (!isCarrierPath(carrierPath(options_.carrier_count - 1))) return fail("Invalid carrier path prefix");
    if (sources.empty() || sources.size() > kMaxResources) return fail("A site holds 1 to 4096 files");
    std::set<std::string_view> names;
    bool members = false;
    bool has_entry = false;
    for (const SourceFile& source : sources) {
      if (!isAppPath(siteRootPath("app/" + source.name))) return fail("Invalid file name: " + source.name);
      if (!names.insert(source.name).second) return fail("Duplicate file name: " + source.name);
      if (source.bytes.empty()) return fail("Empty files cannot be published: " + source.name);
      if (source.bytes.size() > kMaxResourceLength) return fail("File over 1 GiB: " + source.name);
      if ((source.bytes.size() + options_.part_size - 1) / options_.part_size > kMaxPartsPerResource) {
        return fail("Too many parts for " + source.name + "; use a larger part size");
      }
      if (!source.codec.empty() && !options_.media_encoder) return fail("No media encoder for " + source.codec);
      members = members || source.members;
      has_entry = has_entry || source.name == options_.entry;
    }
    if (!has_entry) return fail("Missing entry " + options_.entry);
    if (members && !options_.member_key) return fail("Members files need a member content key");
    members_ = members;
    return true;
  }

  bool chooseKeys() {
    if (options_.encode) {
      if (options_.encoding_key) {
        site_.encoding_key = *options_.encoding_key;
      } else if (!random_.fill(site_.encoding_key.mutableBytes())) {
        return failProvider("Random generator failed");
      }
      site_.index.encoding_key = encodeLowerHex(site_.encoding_key.bytes());
    }
    if (members_) site_.index.member_key_id = options_.member_key_id;
    carriers_.resize(options_.carrier_count);
    return true;
  }

  // The stored form of one part: sealed for members, then the keystream.
  bool storePart(const Resource& resource, std::size_t index, std::span<const std::uint8_t> plain, bool members,
                 std::vector<std::uint8_t>& stored, std::string& nonce_hex) {
    if (members) {
      std::array<std::uint8_t, kGcmNonceLength> nonce{};
      do {
        if (!random_.fill(nonce)) return failProvider("Random generator failed");
        nonce_hex = encodeLowerHex(nonce);
      } while (!nonces_.insert(nonce_hex).second);
      if (!crypto_.aesGcmEncrypt(options_.member_key->bytes(), nonce, memberSealingData(resource, index, plain.size()),
                                 plain, stored)) {
        return failProvider("Sealing failed");
      }
    } else {
      stored.assign(plain.begin(), plain.end());
    }
    if (!options_.encode) return true;
    Sha256Digest seed{};
    SecureBytes transformed;
    if (!computeSha256(crypto_, keystreamCounterSeed(resource.path, index), seed) ||
        !crypto_.aesCtrTransform(site_.encoding_key.bytes(), std::span<const std::uint8_t>(seed).first<16>(), stored,
                                 transformed)) {
      return failProvider("Encoding failed");
    }
    stored.assign(transformed.begin(), transformed.end());
    return true;
  }

  bool addResource(const SourceFile& source) {
    Resource resource;
    resource.path = siteRootPath("app/" + source.name);
    resource.mime = source.mime;
    resource.length = source.bytes.size();
    if (members_ && !source.members) resource.access = kAccessPublic;
    if (source.download) resource.delivery = kDeliveryDownload;
    Sha256Digest digest{};
    if (!computeSha256(crypto_, source.bytes, digest)) return failProvider("SHA-256 provider failed");
    resource.sha256 = encodeLowerHex(digest);

    // A media file keeps its stored parts in one payload, hidden in one carrier.
    std::vector<std::uint8_t> media_payload;
    const std::string media_path =
        options_.carrier_prefix + "media-" + std::to_string(media_count_) + mediaExtension(source.codec);
    for (std::uint64_t at = 0, index = 0; at < source.bytes.size(); at += options_.part_size, ++index) {
      const std::uint64_t length = std::min<std::uint64_t>(options_.part_size, source.bytes.size() - at);
      const auto plain = std::span<const std::uint8_t>(source.bytes).subspan(at, length);
      std::vector<std::uint8_t> stored;
      ResourcePart part;
      if (!storePart(resource, index, plain, source.members, stored, part.nonce)) return false;
      if (!computeSha256(crypto_, stored, digest)) return failProvider("SHA-256 provider failed");
      part.sha256 = encodeLowerHex(digest);
      part.length = stored.size();
      part.plain_length = length;
      if (source.codec.empty()) {
        std::vector<std::uint8_t>& carrier = carriers_[next_carrier_];
        part.url = carrierPath(next_carrier_);
        next_carrier_ = (next_carrier_ + 1) % carriers_.size();
        part.offset = carrier.size();
        carrier.insert(carrier.end(), stored.begin(), stored.end());
      } else {
        part.url = media_path;
        part.codec = source.codec;
        part.offset = media_payload.size();
        media_payload.insert(media_payload.end(), stored.begin(), stored.end());
      }
      resource.parts.push_back(std::move(part));
    }
    if (!source.codec.empty()) {
      std::vector<std::uint8_t> carrier;
      AudioCarrier audio;
      if (!options_.media_encoder(source.codec, media_payload, carrier, audio, failure_)) {
        return failure_.fail(failure_.kind, source.name + ": " + failure_.message);
      }
      if (source.codec == kCodecWav4Fsk1) site_.index.audio_carriers[media_path] = std::move(audio);
      site_.files[media_path] = std::move(carrier);
      ++media_count_;
    }
    site_.index.resources.push_back(std::move(resource));
    return true;
  }

  static std::string mediaExtension(std::string_view codec) {
    if (codec == kCodecWav4Fsk1) return std::string(kAudioCarrierExtension);
    return ".png";
  }

  bool writeIndex() {
    site_.index.entry = siteRootPath("app/" + options_.entry);
    std::string document;
    if (!writeIndexDocument(site_.index, document, failure_)) return false;
    std::vector<std::uint8_t> container;
    if (!buildContainer(crypto_, defaultBootstrap(), document, container, failure_)) return false;
    Sha256Digest container_digest{};
    if (!computeSha256(crypto_, container, container_digest)) return failProvider("SHA-256 provider failed");
    site_.index_digest = encodeLowerHex(container_digest);
    const std::vector<std::uint8_t> icon = options_.icon.empty() ? defaultIcon() : options_.icon;
    if (!options_.external_index_path) {
      return buildFavicon(crypto_, icon, container, options_.footer_version, site_.files["/favicon.ico"], failure_);
    }
    return writeExternalIndex(container, icon);
  }

  bool writeExternalIndex(std::span<const std::uint8_t> container, const std::vector<std::uint8_t>& icon) {
    const std::string& path = *options_.external_index_path;
    if (!isExternalCarrierPath(path) || site_.files.contains(path)) return fail("Invalid external index path");
    PrivateIndexLocator locator;
    locator.url = path;
    std::vector<std::uint8_t> filler(64);
    if (!random_.fill(locator.key.mutableBytes()) || !random_.fill(locator.nonce) || !random_.fill(filler)) {
      return failProvider("Random generator failed");
    }
    locator.offset = filler.size();  // the sealed index does not start the file
    std::vector<std::uint8_t> sealed;
    if (!sealPrivateIndex(crypto_, container, locator, sealed, failure_)) return false;
    std::vector<std::uint8_t>& file = site_.files[path];
    file = filler;
    file.insert(file.end(), sealed.begin(), sealed.end());
    site_.files["/favicon.ico"] = icon;
    return writeKeyFile(locator, site_.key_file, failure_) &&
           writeIcoCredential(crypto_, locator, icon, options_.footer_version, site_.credential, failure_);
  }

  CryptoHost& crypto_;
  const SiteOptions& options_;
  BuiltSite& site_;
  Failure& failure_;
  RandomSource random_;
  bool members_ = false;
  std::vector<std::vector<std::uint8_t>> carriers_;
  std::size_t next_carrier_ = 0;
  std::size_t media_count_ = 0;
  std::set<std::string> nonces_;
};

}  // namespace

bool buildSite(CryptoHost& crypto, const std::vector<SourceFile>& sources, const SiteOptions& options, BuiltSite& site,
               Failure& failure) {
  BuiltSite built;
  if (!SiteBuilder(crypto, options, built, failure).build(sources)) return false;
  site = std::move(built);
  return true;
}

}  // namespace vesmara::publish
