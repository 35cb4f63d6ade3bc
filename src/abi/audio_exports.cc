// The standalone audio export: the sealed message a caller's WAV recording
// carries, opened with the caller's key. It touches no handle and no
// transport, so it is never cancelled.
#include <cstring>
#include <span>
#include <vector>

#include "abi/conventions.h"
#include "base/secure_bytes.h"
#include "hosts/crypto_host.h"
#include "hosts/platform.h"
#include "media/audio_format.h"
#include "media/audio_transport.h"

using vesmara::abi::MessageBuffer;
using vesmara::abi::Status;

namespace {

// The largest recording the export takes from a caller.
constexpr std::uint64_t kRecordingLimit = vesmara::audio::kMaxTransportRecordingLength;

}  // namespace

extern "C" {

VKR_PREVIEW_API Status vkr_preview_audio_decode_file(const uint8_t* data, uint64_t size, const uint8_t* member_key,
                                                     uint64_t member_key_length, uint8_t* buffer, uint64_t capacity,
                                                     uint64_t* out_length, char* message, uint64_t message_capacity) {
  if (out_length != nullptr) *out_length = 0;
  MessageBuffer text(message, message_capacity);
  if (out_length == nullptr || data == nullptr || size == 0 || member_key == nullptr ||
      member_key_length != vesmara::abi::kMemberKeyLength || (capacity != 0 && buffer == nullptr) || !text.usable()) {
    return VKR_PREVIEW_INVALID_ARGUMENT;
  }
  if (size > kRecordingLimit) {
    text.write("Standalone WAV exceeds input limit");
    return VKR_PREVIEW_UNSUPPORTED;
  }
  return vesmara::abi::runContained(text, "Standalone audio decode failed", [&]() -> Status {
    const vesmara::SecretKey key(
        std::span<const std::uint8_t, vesmara::SecretKey::kSize>(member_key, vesmara::SecretKey::kSize));
    // The caller's bytes are copied once, so that nothing the caller does to
    // them while the decode runs can change what is read.
    const std::vector<std::uint8_t> recording(data, data + size);
    const auto crypto = vesmara::defaultPlatform().makeCryptoHost();
    vesmara::SecureBytes plaintext;
    vesmara::Failure failure;
    if (!vesmara::decodeMediaTransport(recording, key.bytes(), *crypto, plaintext, failure)) {
      text.write(failure.message);
      return vesmara::abi::statusForKind(failure.kind);
    }
    if (plaintext.size() > vesmara::audio::kTransportPlaintextLimit) {
      text.write("Standalone audio plaintext exceeds profile limit");
      return VKR_PREVIEW_INVALID_DATA;
    }
    *out_length = plaintext.size();
    if (buffer == nullptr && capacity == 0) return VKR_PREVIEW_OK;
    if (capacity < plaintext.size()) return VKR_PREVIEW_BUFFER_TOO_SMALL;
    std::memcpy(buffer, plaintext.data(), plaintext.size());
    return VKR_PREVIEW_OK;
  });
}

}  // extern "C"
