// The verified description of one site: its entry page, its keys, its
// resources with the parts they are stored in, and its audio carriers.
#ifndef VESMARA_INDEX_SITE_INDEX_H_
#define VESMARA_INDEX_SITE_INDEX_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "index/index_format.h"

namespace vesmara {

struct ResourcePart {
  std::string url;     // carrier path of the object holding the stored bytes
  std::string sha256;  // of the stored bytes, lowercase hex
  std::string codec;   // empty, or the media carrier hiding the bytes
  std::string nonce;   // members parts: 24 lowercase hex digits; empty otherwise
  std::uint64_t offset = 0;
  std::uint64_t length = 0;        // stored length
  std::uint64_t plain_length = 0;  // length after decoding (a members part loses its 16-byte tag)
};

struct Resource {
  std::string path;
  std::string mime;
  std::string sha256;  // of the whole plain resource
  std::string access;    // "public", "members" or empty, as written
  std::string delivery;  // "download" or empty, as written
  std::uint64_t length = 0;
  std::vector<ResourcePart> parts;
};

struct AudioPacket {
  std::uint64_t length = 0;
  std::string sha256;
};

struct AudioPacketLocation {
  std::uint64_t packet = 0;
  std::uint64_t copy = 0;
  double start_seconds = 0;
  double duration_seconds = 0;
};

struct AudioCarrier {
  std::uint64_t length = 0;
  std::string sha256;
  std::vector<AudioPacket> packets;
  std::vector<AudioPacketLocation> locations;
};

struct SiteIndex {
  std::string entry;
  std::string encoding_key;   // 64 lowercase hex digits, or empty
  std::string member_key_id;  // empty when the site has no members resources
  std::vector<Resource> resources;                         // strictly ascending by path
  std::map<std::string, AudioCarrier, std::less<>> audio_carriers;  // byte-wise key order
};

// A resource is a members resource when the site has a member key and the
// resource is not explicitly public.
inline bool isMembersResource(const SiteIndex& index, const Resource& resource) {
  return !index.member_key_id.empty() && resource.access != kAccessPublic;
}

inline std::string_view effectiveAccess(const SiteIndex& index, const Resource& resource) {
  return isMembersResource(index, resource) ? kAccessMembers : kAccessPublic;
}

inline std::string_view effectiveDelivery(const Resource& resource) {
  return resource.delivery == kDeliveryDownload ? kDeliveryDownload : kDeliveryApp;
}

// The resource whose path equals `path` byte for byte, or null.
const Resource* findResource(const SiteIndex& index, std::string_view path);

}  // namespace vesmara

#endif  // VESMARA_INDEX_SITE_INDEX_H_
