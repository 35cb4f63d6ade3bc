// Questions about a PNG file's chunk list that decoders answer differently
// and the carriers need answered one way.
#ifndef VESMARA_HOSTS_PNG_CHUNKS_H_
#define VESMARA_HOSTS_PNG_CHUNKS_H_

#include <cstdint>
#include <span>

namespace vesmara {

// True when an animation control chunk ("acTL") precedes the image data:
// the file is an animated PNG, which has more than one frame, whether or not
// a decoder reports its frames. A chunk list that runs off the end gives
// false and is left for the decoder to refuse.
bool isAnimatedPng(std::span<const std::uint8_t> png);

}  // namespace vesmara

#endif  // VESMARA_HOSTS_PNG_CHUNKS_H_
