// Writes the hosted index carrier: the container that holds a document, and
// the favicon that hides the container behind an icon.
#ifndef VESMARA_PUBLISH_CARRIER_WRITER_H_
#define VESMARA_PUBLISH_CARRIER_WRITER_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/failure.h"
#include "hosts/crypto_host.h"

namespace vesmara::publish {

// A container of a bootstrap section and a document section, with its
// manifest, header and digests. Fails when the sections would not fit the
// container's limits or the provider fails.
bool buildContainer(CryptoHost& crypto, std::string_view bootstrap, std::string_view document,
                    std::vector<std::uint8_t>& container, Failure& failure);

// The bootstrap section the publisher writes: a small document naming the
// site's launch page.
std::string defaultBootstrap();

// Icon bytes, then the container, then the 128-byte footer. Version 2 adds
// the digest of the container's prefix (header, manifest and bootstrap).
bool buildFavicon(CryptoHost& crypto, std::span<const std::uint8_t> icon, std::span<const std::uint8_t> container,
                  std::uint16_t footer_version, std::vector<std::uint8_t>& favicon, Failure& failure);

// A minimal valid ICO image (one 1x1 32-bit icon) to carry a payload when
// the publisher has no icon of its own.
std::vector<std::uint8_t> defaultIcon();

}  // namespace vesmara::publish

#endif  // VESMARA_PUBLISH_CARRIER_WRITER_H_
