// The media type of a file, from its name: the publisher writes it into the
// index, and the local origin server sends it as Content-Type.
#ifndef VESMARA_TOOLS_PACK_MEDIA_TYPES_H_
#define VESMARA_TOOLS_PACK_MEDIA_TYPES_H_

#include <string_view>

namespace vesmara::pack {

// The web's common types by file extension (case-insensitive);
// "application/octet-stream" for anything else.
std::string_view mediaTypeOf(std::string_view file_name);

// Whether the index takes `type` as a resource's media type: 1 to 100 bytes
// with a '/', of lowercase letters, digits and " +-./;=" only.
bool isPublishableMediaType(std::string_view type);

}  // namespace vesmara::pack

#endif  // VESMARA_TOOLS_PACK_MEDIA_TYPES_H_
