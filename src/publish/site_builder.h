// Publishes a site: turns plain files into an origin tree that any static
// web server can serve — the favicon carrying the index (or an external
// index with its key material), and carrier files holding every resource's
// parts, encoded with the site keystream and sealed for members as asked.
//
// Files pass through one part at a time: read, hashed, sealed, encoded and
// appended to their carrier before the next part is read, so a site of any
// size is published in bounded memory. Only the index is held whole.
#ifndef VESMARA_PUBLISH_SITE_BUILDER_H_
#define VESMARA_PUBLISH_SITE_BUILDER_H_

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/secure_bytes.h"
#include "hosts/crypto_host.h"
#include "index/site_index.h"

namespace vesmara::publish {

// A file's bytes in order, a piece at a time.
class SourceStream {
 public:
  virtual ~SourceStream() = default;
  // Fills all of `out` with the file's next bytes, or fails (saying why).
  virtual bool read(std::span<std::uint8_t> out, Failure& failure) = 0;
};

// The bytes of a file that stays where it is (on disk) until the builder
// comes to it.
class SourceContent {
 public:
  virtual ~SourceContent() = default;
  virtual std::uint64_t length() const = 0;
  // A stream from the first byte; null, with the reason, when it cannot be
  // opened.
  virtual std::unique_ptr<SourceStream> open(Failure& failure) const = 0;
};

// One file of the site, named relative to the site's app root ("index.html",
// "img/logo.png").
struct SourceFile {
  std::string name;
  std::string mime;
  std::vector<std::uint8_t> bytes;  // unused when `content` is set
  bool members = false;             // sealed with the member content key
  bool download = false;            // delivery "download"
  std::string codec;                // empty, or the media carrier to hide the parts in
  std::shared_ptr<const SourceContent> content;

  std::uint64_t length() const { return content ? content->length() : bytes.size(); }
};

// Hides payloads in media carriers.
class MediaEncoder {
 public:
  virtual ~MediaEncoder() = default;
  // The most payload bytes one carrier of `codec` holds (0 for a codec it
  // does not write).
  virtual std::uint64_t capacity(std::string_view codec) = 0;
  // A carrier of `codec` holding `payload`. For the audio codec it also
  // fills `audio` (the index's metadata of the carrier).
  virtual bool encode(std::string_view codec, std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& carrier,
                      AudioCarrier& audio, Failure& failure) = 0;
};

// Where the origin's files go as they are built.
class OriginSink {
 public:
  virtual ~OriginSink() = default;
  // Appends `bytes` to the origin file at `path` ("/assets/blob-00.bin"),
  // which the first call for it creates. Failures are Output.
  virtual bool append(const std::string& path, std::span<const std::uint8_t> bytes, Failure& failure) = 0;
};

struct SiteOptions {
  std::string entry = "index.html";
  bool encode = true;                     // apply the site keystream
  std::optional<SecretKey> encoding_key;  // random when encoding and not given
  std::optional<SecretKey> member_key;    // required when a file is for members
  std::string member_key_id = "members";
  std::uint64_t part_size = 1048576;  // 1 to 4 MiB
  std::size_t carrier_count = 4;      // plain carrier files the parts are spread over
  std::string carrier_prefix = "/assets/blob-";
  std::uint16_t footer_version = 2;
  std::vector<std::uint8_t> icon;  // empty: a small default icon
  // An external index instead of a hosted one: the sealed index goes to
  // this carrier path, and the key material is returned.
  std::optional<std::string> external_index_path;
  // Makes every random choice (keys, nonces) a function of the seed, so the
  // same input gives byte-for-byte the same origin.
  std::optional<std::uint64_t> seed;
  // Needed when a file names a codec. A file larger than one carrier holds
  // is spread over as many as it needs, each holding whole parts.
  std::shared_ptr<MediaEncoder> media_encoder;
};

struct PublishedSite {
  SiteIndex index;
  std::string index_digest;  // lowercase hex SHA-256 of the index container
  SecretKey encoding_key;
  std::string key_file;                  // external index only
  std::vector<std::uint8_t> credential;  // external index only: the ICO credential
};

struct BuiltSite : PublishedSite {
  std::map<std::string, std::vector<std::uint8_t>> files;  // origin path -> bytes
};

// Publishes the origin into `sink`. Refuses (InvalidData), before anything
// reaches the sink, input that the library's readers would refuse: no
// entry, a file over 1 GiB or empty, too many resources or parts, bad names.
// A failure later on (an entry that is not HTML, a source that cannot be
// read, the sink's own) may leave files in the sink that its owner discards.
bool publishSite(CryptoHost& crypto, const std::vector<SourceFile>& sources, const SiteOptions& options,
                 OriginSink& sink, PublishedSite& site, Failure& failure);

// Publishes the whole origin into memory.
bool buildSite(CryptoHost& crypto, const std::vector<SourceFile>& sources, const SiteOptions& options, BuiltSite& site,
               Failure& failure);

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_SITE_BUILDER_H_
