// Writes what an external index needs: the sealed private index, and the key
// material that locates and opens it (a key file, or an ICO credential).
#ifndef VESMARA_PUBLISH_EXTERNAL_WRITER_H_
#define VESMARA_PUBLISH_EXTERNAL_WRITER_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/failure.h"
#include "hosts/crypto_host.h"
#include "index/external_index.h"

namespace vesmara::publish {

// Seals `container` for its place (`locator.url` at `locator.offset`) with
// the locator's key and nonce, and completes the locator's length and digest.
bool sealPrivateIndex(CryptoHost& crypto, std::span<const std::uint8_t> container, PrivateIndexLocator& locator,
                      std::vector<std::uint8_t>& sealed, Failure& failure);

// "VKRKEY1:" followed by the locator's token and a line feed. Refuses a
// locator the reader would refuse.
bool writeKeyFile(const PrivateIndexLocator& locator, std::string& text, Failure& failure);

// An icon carrying a container whose document names the private index.
bool writeIcoCredential(CryptoHost& crypto, const PrivateIndexLocator& locator, std::span<const std::uint8_t> icon,
                        std::uint16_t footer_version, std::vector<std::uint8_t>& credential, Failure& failure);

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_EXTERNAL_WRITER_H_
