#include "pack/media_codecs.h"

#include "index/index_document.h"

namespace vesmara::pack {

bool isMediaCodec(std::string_view codec) {
  return codec == kCodecPngLsb1 || codec == kCodecFrameLuma1 || codec == kCodecFrameLuma2 || codec == kCodecWav4Fsk1;
}

}  // namespace vesmara::pack
