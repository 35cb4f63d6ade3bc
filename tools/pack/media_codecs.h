// The media carriers vkr-pack can hide a file's parts in.
#ifndef VESMARA_TOOLS_PACK_MEDIA_CODECS_H_
#define VESMARA_TOOLS_PACK_MEDIA_CODECS_H_

#include <string_view>

#include "publish/site_builder.h"

namespace vesmara::pack {

// png-lsb1, frame-luma1, frame-luma2 or wav-4fsk1.
bool isMediaCodec(std::string_view codec);

}  // namespace vesmara::pack

#endif  // VESMARA_TOOLS_PACK_MEDIA_CODECS_H_
