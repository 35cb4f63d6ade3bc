#include "publish/site_builder.h"

#include <algorithm>
#include <set>

#include "base/byte_writer.h"
#include "base/hex.h"
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

// The index a reader accepts is at most 16 MiB of text, and each part's
// entry names at least its carrier, offset, length and 64-digit digest:
// more parts than this cannot fit, and are refused before any is written.
constexpr std::uint64_t kMinPartEntryLength = 100;
constexpr std::uint64_t kMaxIndexDocumentLength = 16777216;
constexpr std::uint64_t kMaxSiteParts = kMaxIndexDocumentLength / kMinPartEntryLength;

// A source's bytes in order: from memory, or from its content's stream.
class PartReader {
 public:
  explicit PartReader(const SourceFile& source) : source_(source) {}

  bool open(Failure& failure) {
    if (source_.content) stream_ = source_.content->open(failure);
    return !source_.content || stream_ != nullptr;
  }

  bool read(std::uint64_t length, SecureBytes& out, Failure& failure) {
    out.resize(static_cast<std::size_t>(length));
    if (stream_) return stream_->read(out, failure);
    const auto bytes = std::span<const std::uint8_t>(source_.bytes).subspan(static_cast<std::size_t>(at_), out.size());
    std::copy(bytes.begin(), bytes.end(), out.begin());
    at_ += length;
    return true;
  }

 private:
  const SourceFile& source_;
  std::unique_ptr<SourceStream> stream_;
  std::uint64_t at_ = 0;
};

class SiteBuilder {
 public:
  SiteBuilder(CryptoHost& crypto, const SiteOptions& options, OriginSink& sink, PublishedSite& site, Failure& failure)
      : crypto_(crypto),
        options_(options),
        sink_(sink),
        site_(site),
        failure_(failure),
        random_(crypto, options.seed) {}

  bool build(const std::vector<SourceFile>& sources) {
    if (!checkOptions(sources) || !chooseKeys()) return false;
    std::vector<const SourceFile*> ordered;
    for (const SourceFile& source : sources) ordered.push_back(&source);
    std::sort(ordered.begin(), ordered.end(),
              [](const SourceFile* a, const SourceFile* b) { return a->name < b->name; });
    for (const SourceFile* source : ordered) {
      if (!addResource(*source)) return false;
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

  std::string mediaPath(std::string_view codec) const {
    return options_.carrier_prefix + "media-" + std::to_string(media_count_) + mediaExtension(codec);
  }

  // Sealing adds its tag to every part, and a media carrier holds whole
  // stored parts: a media file's parts are cut to fit one carrier each.
  std::uint64_t partSizeOf(const SourceFile& source) const {
    if (source.codec.empty()) return options_.part_size;
    const std::uint64_t capacity = options_.media_encoder->capacity(source.codec);
    const std::uint64_t overhead = source.members ? kGcmTagLength : 0;
    return std::min(options_.part_size, capacity > overhead ? capacity - overhead : 0);
  }

  static std::uint64_t partCountOf(std::uint64_t length, std::uint64_t part_size) {
    return (length + part_size - 1) / part_size;
  }

  // The media carriers a file fills: each takes as many whole parts as fit.
  std::uint64_t mediaCarriersOf(const SourceFile& source) const {
    const std::uint64_t part_size = partSizeOf(source);
    const std::uint64_t stored = part_size + (source.members ? kGcmTagLength : 0);
    const std::uint64_t per_carrier = options_.media_encoder->capacity(source.codec) / stored;
    return partCountOf(partCountOf(source.length(), part_size), per_carrier);
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
    std::uint64_t parts = 0;
    std::uint64_t audio_carriers = 0;
    for (const SourceFile& source : sources) {
      if (!isAppPath(siteRootPath("app/" + source.name))) return fail("Invalid file name: " + source.name);
      if (!names.insert(source.name).second) return fail("Duplicate file name: " + source.name);
      if (source.length() == 0) return fail("Empty files cannot be published: " + source.name);
      if (source.length() > kMaxResourceLength) return fail("File over 1 GiB: " + source.name);
      if (!source.codec.empty() && !checkMediaFile(source)) return false;
      const std::uint64_t count = partCountOf(source.length(), partSizeOf(source));
      if (count > kMaxPartsPerResource) {
        if (partSizeOf(source) < options_.part_size) {
          return fail("Too many parts for " + source.name + ": a " + source.codec + " carrier holds " +
                      std::to_string(partSizeOf(source)) + " bytes of it");
        }
        return fail("Too many parts for " + source.name + "; use a larger part size");
      }
      parts += count;
      if (source.codec == kCodecWav4Fsk1) audio_carriers += mediaCarriersOf(source);
      members = members || source.members;
      has_entry = has_entry || source.name == options_.entry;
    }
    if (parts > kMaxSiteParts) return fail("Too many parts for an index of 16 MiB; use a larger part size");
    if (audio_carriers > kMaxAudioCarriers) {
      return fail("The wav-4fsk1 files need " + std::to_string(audio_carriers) + " recordings; a site holds 64");
    }
    if (!has_entry) return fail("Missing entry " + options_.entry);
    if (members && !options_.member_key) return fail("Members files need a member content key");
    members_ = members;
    return true;
  }

  bool checkMediaFile(const SourceFile& source) {
    if (!options_.media_encoder) return fail("No media encoder for " + source.codec);
    if (partSizeOf(source) == 0) return fail(source.name + ": a " + source.codec + " carrier cannot hold a part");
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
    carrier_lengths_.assign(options_.carrier_count, 0);
    return true;
  }

  // The stored form of one part: sealed for members, then the keystream.
  // The result lies in one of the builder's buffers, valid until the next part.
  bool storePart(const Resource& resource, std::size_t index, std::span<const std::uint8_t> plain, bool members,
                 std::span<const std::uint8_t>& stored, std::string& nonce_hex) {
    stored = plain;
    if (members) {
      std::array<std::uint8_t, kGcmNonceLength> nonce{};
      do {
        if (!random_.fill(nonce)) return failProvider("Random generator failed");
        nonce_hex = encodeLowerHex(nonce);
      } while (!nonces_.insert(nonce_hex).second);
      if (!crypto_.aesGcmEncrypt(options_.member_key->bytes(), nonce, memberSealingData(resource, index, plain.size()),
                                 plain, sealed_)) {
        return failProvider("Sealing failed");
      }
      stored = sealed_;
    }
    if (!options_.encode) return true;
    Sha256Digest seed{};
    if (!computeSha256(crypto_, keystreamCounterSeed(resource.path, index), seed) ||
        !crypto_.aesCtrTransform(site_.encoding_key.bytes(), std::span<const std::uint8_t>(seed).first<16>(), stored,
                                 encoded_)) {
      return failProvider("Encoding failed");
    }
    stored = encoded_;
    return true;
  }

  bool addResource(const SourceFile& source) {
    Resource resource;
    resource.path = siteRootPath("app/" + source.name);
    resource.mime = source.mime;
    resource.length = source.length();
    if (members_ && !source.members) resource.access = kAccessPublic;
    if (source.download) resource.delivery = kDeliveryDownload;
    const std::unique_ptr<Hasher> hasher = crypto_.createHasher();
    if (!hasher) return failProvider("SHA-256 provider failed");
    PartReader reader(source);
    if (!reader.open(failure_)) return false;

    const std::uint64_t part_size = partSizeOf(source);
    for (std::uint64_t at = 0, index = 0; at < resource.length; at += part_size, ++index) {
      const std::uint64_t length = std::min<std::uint64_t>(part_size, resource.length - at);
      if (!reader.read(length, plain_, failure_)) return false;
      if (!hasher->update(plain_)) return failProvider("SHA-256 provider failed");
      std::span<const std::uint8_t> stored;
      ResourcePart part;
      if (!storePart(resource, index, plain_, source.members, stored, part.nonce)) return false;
      Sha256Digest digest{};
      if (!computeSha256(crypto_, stored, digest)) return failProvider("SHA-256 provider failed");
      part.sha256 = encodeLowerHex(digest);
      part.length = stored.size();
      part.plain_length = length;
      if (source.codec.empty()) {
        part.url = carrierPath(next_carrier_);
        part.offset = carrier_lengths_[next_carrier_];
        if (!sink_.append(part.url, stored, failure_)) return false;
        carrier_lengths_[next_carrier_] += stored.size();
        next_carrier_ = (next_carrier_ + 1) % carrier_lengths_.size();
      } else {
        // A part that would overfill the carrier begins the next one.
        if (media_payload_.size() + stored.size() > options_.media_encoder->capacity(source.codec) &&
            !writeMediaCarrier(source)) {
          return false;
        }
        part.url = mediaPath(source.codec);
        part.codec = source.codec;
        part.offset = media_payload_.size();
        media_payload_.insert(media_payload_.end(), stored.begin(), stored.end());
      }
      resource.parts.push_back(std::move(part));
    }
    if (!source.codec.empty() && !writeMediaCarrier(source)) return false;
    Sha256Digest digest{};
    if (!hasher->finish(digest)) return failProvider("SHA-256 provider failed");
    resource.sha256 = encodeLowerHex(digest);
    site_.index.resources.push_back(std::move(resource));
    return true;
  }

  // Hides the parts gathered so far in the file's next media carrier.
  bool writeMediaCarrier(const SourceFile& source) {
    const std::string path = mediaPath(source.codec);
    std::vector<std::uint8_t> carrier;
    AudioCarrier audio;
    if (!options_.media_encoder->encode(source.codec, media_payload_, carrier, audio, failure_)) {
      return failure_.fail(failure_.kind, source.name + ": " + failure_.message);
    }
    if (source.codec == kCodecWav4Fsk1) site_.index.audio_carriers[path] = std::move(audio);
    if (!sink_.append(path, carrier, failure_)) return false;
    written_.insert(path);
    media_payload_.clear();
    ++media_count_;
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
      std::vector<std::uint8_t> favicon;
      return buildFavicon(crypto_, icon, container, options_.footer_version, favicon, failure_) &&
             sink_.append(std::string(kFaviconPath), favicon, failure_);
    }
    return writeExternalIndex(container, icon);
  }

  bool isWritten(const std::string& path) const {
    if (written_.contains(path)) return true;
    for (std::size_t i = 0; i < carrier_lengths_.size(); ++i) {
      if (carrier_lengths_[i] != 0 && carrierPath(i) == path) return true;
    }
    return false;
  }

  bool writeExternalIndex(std::span<const std::uint8_t> container, const std::vector<std::uint8_t>& icon) {
    const std::string& path = *options_.external_index_path;
    if (!isExternalCarrierPath(path) || isWritten(path)) return fail("Invalid external index path");
    PrivateIndexLocator locator;
    locator.url = path;
    std::vector<std::uint8_t> filler(64);
    if (!random_.fill(locator.key.mutableBytes()) || !random_.fill(locator.nonce) || !random_.fill(filler)) {
      return failProvider("Random generator failed");
    }
    locator.offset = filler.size();  // the sealed index does not start the file
    std::vector<std::uint8_t> sealed;
    if (!sealPrivateIndex(crypto_, container, locator, sealed, failure_)) return false;
    return writeKeyFile(locator, site_.key_file, failure_) &&
           writeIcoCredential(crypto_, locator, icon, options_.footer_version, site_.credential, failure_) &&
           sink_.append(path, filler, failure_) && sink_.append(path, sealed, failure_) &&
           sink_.append(std::string(kFaviconPath), icon, failure_);
  }

  CryptoHost& crypto_;
  const SiteOptions& options_;
  OriginSink& sink_;
  PublishedSite& site_;
  Failure& failure_;
  RandomSource random_;
  bool members_ = false;
  std::vector<std::uint64_t> carrier_lengths_;  // what each plain carrier holds so far
  std::size_t next_carrier_ = 0;
  std::size_t media_count_ = 0;
  std::set<std::string> written_;  // media carriers
  std::set<std::string> nonces_;
  // One part's bytes on their way through: plain, sealed, encoded.
  SecureBytes plain_;
  std::vector<std::uint8_t> sealed_;
  SecureBytes encoded_;
  std::vector<std::uint8_t> media_payload_;
};

// Keeps the origin's files in memory.
class MemorySink : public OriginSink {
 public:
  explicit MemorySink(std::map<std::string, std::vector<std::uint8_t>>& files) : files_(files) {}

  bool append(const std::string& path, std::span<const std::uint8_t> bytes, Failure&) override {
    std::vector<std::uint8_t>& file = files_[path];
    file.insert(file.end(), bytes.begin(), bytes.end());
    return true;
  }

 private:
  std::map<std::string, std::vector<std::uint8_t>>& files_;
};

}  // namespace

bool publishSite(CryptoHost& crypto, const std::vector<SourceFile>& sources, const SiteOptions& options,
                 OriginSink& sink, PublishedSite& site, Failure& failure) {
  PublishedSite published;
  if (!SiteBuilder(crypto, options, sink, published, failure).build(sources)) return false;
  site = std::move(published);
  return true;
}

bool buildSite(CryptoHost& crypto, const std::vector<SourceFile>& sources, const SiteOptions& options, BuiltSite& site,
               Failure& failure) {
  BuiltSite built;
  MemorySink sink(built.files);
  if (!publishSite(crypto, sources, options, sink, built, failure)) return false;
  site = std::move(built);
  return true;
}

}  // namespace vesmara::publish
