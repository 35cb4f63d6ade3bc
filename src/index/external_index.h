// The external index: a site opened with key material the caller holds (a
// key file or an ICO credential), whose index lies sealed with AES-256-GCM in
// some file of the origin.
#ifndef VESMARA_INDEX_EXTERNAL_INDEX_H_
#define VESMARA_INDEX_EXTERNAL_INDEX_H_

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/secure_bytes.h"
#include "hosts/crypto_host.h"
#include "hosts/http_host.h"
#include "index/hosted_index.h"

namespace vesmara {

// Where the sealed private index lies and how to open it.
struct PrivateIndexLocator {
  std::string url;  // external carrier path
  std::uint64_t offset = 0;
  std::uint64_t length = 0;  // ciphertext plus the 16-byte tag
  Sha256Digest sha256{};     // of the sealed bytes as fetched
  std::array<std::uint8_t, kGcmNonceLength> nonce{};
  SecretKey key;
};

// Parses key file text ("VKRKEY1:" and a base64url token, with at most one
// line ending). Failures are InvalidData.
bool parseKeyFile(std::span<const std::uint8_t> material, PrivateIndexLocator& locator, Failure& failure);

// Reads the locator from an ICO credential: a favicon-shaped carrier whose
// document names the private index. `transport` is the site's own, asked
// only whether the load was cancelled.
bool readIcoCredential(const HttpHost& transport, CryptoHost& crypto, std::span<const std::uint8_t> material,
                       PrivateIndexLocator& locator, Failure& failure);

// The additional data that binds a sealed private index to its place:
// label, 0, carrier path, 0, offset in decimal.
std::vector<std::uint8_t> privateIndexAdditionalData(std::string_view url, std::uint64_t offset);

// The favicon built around an opened private index so the hosted reader can
// verify it: the container, then a version-1 footer over it.
SecureBytes buildSyntheticFavicon(SecureBytes container, const Sha256Digest& container_digest);

// Locates, fetches, verifies and opens the private index, then loads it like
// a hosted one. On failure `holder` is left as it was.
bool loadExternalIndex(HttpHost& transport, CryptoHost& crypto, std::span<const std::uint8_t> material,
                       LoadedIndex& holder, Failure& failure);

}  // namespace vesmara

#endif  // VESMARA_INDEX_EXTERNAL_INDEX_H_
