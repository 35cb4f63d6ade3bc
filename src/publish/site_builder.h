// Publishes a site: turns plain files into an origin tree that any static
// web server can serve — the favicon carrying the index (or an external
// index with its key material), and carrier files holding every resource's
// parts, encoded with the site keystream and sealed for members as asked.
#ifndef VESMARA_PUBLISH_SITE_BUILDER_H_
#define VESMARA_PUBLISH_SITE_BUILDER_H_

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/secure_bytes.h"
#include "hosts/crypto_host.h"
#include "index/site_index.h"

namespace vesmara::publish {

// One file of the site, named relative to the site's app root ("index.html",
// "img/logo.png").
struct SourceFile {
  std::string name;
  std::string mime;
  std::vector<std::uint8_t> bytes;
  bool members = false;   // sealed with the member content key
  bool download = false;  // delivery "download"
  std::string codec;      // empty, or the media carrier to hide the parts in
};

// Hides a payload in a media carrier of `codec`. For the audio codec it also
// fills `audio` (the index's metadata of the carrier).
using MediaEncoder = std::function<bool(std::string_view codec, std::span<const std::uint8_t> payload,
                                        std::vector<std::uint8_t>& carrier, AudioCarrier& audio, Failure& failure)>;

struct SiteOptions {
  std::string entry = "index.html";
  bool encode = true;                      // apply the site keystream
  std::optional<SecretKey> encoding_key;   // random when encoding and not given
  std::optional<SecretKey> member_key;     // required when a file is for members
  std::string member_key_id = "members";
  std::uint64_t part_size = 1048576;       // 1 to 4 MiB
  std::size_t carrier_count = 4;           // plain carrier files the parts are spread over
  std::string carrier_prefix = "/assets/blob-";
  std::uint16_t footer_version = 2;
  std::vector<std::uint8_t> icon;          // empty: a small default icon
  // An external index instead of a hosted one: the sealed index goes to
  // this carrier path, and the key material is returned.
  std::optional<std::string> external_index_path;
  // Makes every random choice (keys, nonces) a function of the seed, so the
  // same input gives byte-for-byte the same origin.
  std::optional<std::uint64_t> seed;
  MediaEncoder media_encoder;              // needed when a file names a codec
};

struct BuiltSite {
  std::map<std::string, std::vector<std::uint8_t>> files;  // origin path -> bytes
  SiteIndex index;
  std::string index_digest;  // lowercase hex SHA-256 of the index container
  SecretKey encoding_key;
  std::string key_file;                  // external index only
  std::vector<std::uint8_t> credential;  // external index only: the ICO credential
};

// Builds the whole origin in memory. Refuses (InvalidData) input that the
// library's readers would refuse: no entry, an entry that is not HTML, a
// file over 1 GiB or empty, too many resources or parts, bad names.
bool buildSite(CryptoHost& crypto, const std::vector<SourceFile>& sources, const SiteOptions& options, BuiltSite& site,
               Failure& failure);

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_SITE_BUILDER_H_
