#include "hosts/windows/windows_crypto_host.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <array>

#include "base/wipe.h"

namespace vesmara {
namespace {

// BCrypt reports success with a non-negative NTSTATUS.
bool succeeded(NTSTATUS status) { return status >= 0; }

// The status BCryptDecrypt returns when the tag does not authenticate the data.
constexpr NTSTATUS kAuthTagMismatch = static_cast<NTSTATUS>(0xC000A002L);

class WindowsHasher final : public Hasher {
 public:
  WindowsHasher() {
    ready_ = succeeded(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
             succeeded(BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0));
  }
  ~WindowsHasher() override {
    if (hash_ != nullptr) BCryptDestroyHash(hash_);
    if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
  }
  WindowsHasher(const WindowsHasher&) = delete;
  WindowsHasher& operator=(const WindowsHasher&) = delete;

  bool ready() const { return ready_; }

  // A failed update spoils the hasher, so that finish cannot return the
  // digest of fewer bytes than were passed.
  bool update(ByteSpan data) override {
    if (!ready_) return false;
    ready_ = data.size() <= kCryptoLengthLimit &&
             succeeded(BCryptHashData(hash_, const_cast<PUCHAR>(data.data()), static_cast<ULONG>(data.size()), 0));
    return ready_;
  }

  bool finish(std::span<std::uint8_t, kSha256Length> digest) override {
    if (!ready_) return false;
    ready_ = false;
    return succeeded(BCryptFinishHash(hash_, digest.data(), static_cast<ULONG>(digest.size()), 0));
  }

 private:
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
  bool ready_ = false;
};

// An AES-256 key in one chaining mode for the length of one call; the key
// object and the provider are released on every path.
class AesKeyObject {
 public:
  AesKeyObject(const wchar_t* chaining_mode, std::size_t mode_bytes, AesKey key) {
    ready_ = succeeded(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_AES_ALGORITHM, nullptr, 0)) &&
             succeeded(BCryptSetProperty(algorithm_, BCRYPT_CHAINING_MODE,
                                         reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(chaining_mode)),
                                         static_cast<ULONG>(mode_bytes), 0)) &&
             succeeded(BCryptGenerateSymmetricKey(algorithm_, &key_, nullptr, 0, const_cast<PUCHAR>(key.data()),
                                                  static_cast<ULONG>(key.size()), 0));
  }
  ~AesKeyObject() {
    if (key_ != nullptr) BCryptDestroyKey(key_);
    if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
  }
  AesKeyObject(const AesKeyObject&) = delete;
  AesKeyObject& operator=(const AesKeyObject&) = delete;

  bool ready() const { return ready_; }
  BCRYPT_KEY_HANDLE key() const { return key_; }

 private:
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_KEY_HANDLE key_ = nullptr;
  bool ready_ = false;
};

// The mode names are passed with their terminating null.
AesKeyObject ecbKey(AesKey key) { return AesKeyObject(BCRYPT_CHAIN_MODE_ECB, sizeof(BCRYPT_CHAIN_MODE_ECB), key); }
AesKeyObject gcmKey(AesKey key) { return AesKeyObject(BCRYPT_CHAIN_MODE_GCM, sizeof(BCRYPT_CHAIN_MODE_GCM), key); }

// The authenticated-cipher information of one GCM call: version 1, the
// 12-byte nonce, the additional data and the 16-byte tag; no MAC context
// and no chaining flags.
BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO gcmInfo(GcmNonce nonce, ByteSpan aad, std::uint8_t* tag) {
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
  BCRYPT_INIT_AUTH_MODE_INFO(info);
  info.pbNonce = const_cast<PUCHAR>(nonce.data());
  info.cbNonce = static_cast<ULONG>(nonce.size());
  info.pbAuthData = aad.empty() ? nullptr : const_cast<PUCHAR>(aad.data());
  info.cbAuthData = static_cast<ULONG>(aad.size());
  info.pbTag = tag;
  info.cbTag = static_cast<ULONG>(kGcmTagLength);
  return info;
}

// Adds 1 to a 128-bit big-endian counter, wrapping from all ones to zero.
void incrementCounter(std::array<std::uint8_t, kAesBlockLength>& counter) {
  for (std::size_t i = counter.size(); i-- > 0;) {
    if (++counter[i] != 0) return;
  }
}

}  // namespace

bool fillFromSystemRandom(std::span<std::uint8_t> buffer) {
  if (buffer.size() > kCryptoLengthLimit) return false;
  return succeeded(
      BCryptGenRandom(nullptr, buffer.data(), static_cast<ULONG>(buffer.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

WindowsCryptoHost::WindowsCryptoHost(std::size_t counter_blocks_per_call)
    : counter_blocks_per_call_(std::max<std::size_t>(counter_blocks_per_call, 1)) {}

std::unique_ptr<Hasher> WindowsCryptoHost::createHasher() {
  auto hasher = std::make_unique<WindowsHasher>();
  if (!hasher->ready()) return nullptr;
  return hasher;
}

bool WindowsCryptoHost::randomBytes(std::span<std::uint8_t> buffer) {
  if (buffer.data() == nullptr || buffer.empty()) return false;
  if (fillFromSystemRandom(buffer)) return true;
  SecureZeroMemory(buffer.data(), buffer.size());
  return false;
}

bool WindowsCryptoHost::aesCtrTransform(AesKey key, CounterBlock counter, ByteSpan input, SecureBytes& output) {
  const AesKeyObject cipher = ecbKey(key);
  if (!cipher.ready()) return false;
  output.resize(input.size());
  if (input.empty()) return true;

  // One run of consecutive counter blocks, encrypted in place into keystream.
  const std::size_t blocks_needed = (input.size() + kAesBlockLength - 1) / kAesBlockLength;
  SecureBytes keystream(std::min(blocks_needed, counter_blocks_per_call_) * kAesBlockLength);
  std::array<std::uint8_t, kAesBlockLength> next{};
  std::copy(counter.begin(), counter.end(), next.begin());

  std::size_t done = 0;
  bool ok = true;
  while (done < input.size()) {
    const std::size_t length = std::min(input.size() - done, keystream.size());
    const std::size_t blocks = (length + kAesBlockLength - 1) / kAesBlockLength;
    const ULONG run = static_cast<ULONG>(blocks * kAesBlockLength);
    for (std::size_t b = 0; b < blocks; ++b) {
      std::copy(next.begin(), next.end(), keystream.begin() + static_cast<std::ptrdiff_t>(b * kAesBlockLength));
      incrementCounter(next);
    }
    ULONG written = 0;
    if (!succeeded(BCryptEncrypt(cipher.key(), keystream.data(), run, nullptr, nullptr, 0, keystream.data(), run,
                                 &written, 0)) ||
        written != run) {
      ok = false;
      break;
    }
    // Input and output may be the same bytes: each byte is read before it
    // is written.
    for (std::size_t i = 0; i < length; ++i) output[done + i] = input[done + i] ^ keystream[i];
    done += length;
  }
  SecureZeroMemory(next.data(), next.size());
  if (!ok) SecureZeroMemory(output.data() + done, output.size() - done);
  return ok;
}

bool WindowsCryptoHost::aesGcmDecrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed, SecureBytes& output) {
  return aesGcmDecryptDetailed(key, nonce, aad, sealed, output) == GcmResult::Ok;
}

GcmResult WindowsCryptoHost::aesGcmDecryptDetailed(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed,
                                                   SecureBytes& output) {
  output.clear();
  if (sealed.size() < kGcmTagLength || sealed.size() - kGcmTagLength > kGcmTextLimit || aad.size() > kGcmAadLimit) {
    return GcmResult::Rejected;
  }
  const AesKeyObject cipher = gcmKey(key);
  if (!cipher.ready()) return GcmResult::ProviderFailed;
  const ByteSpan ciphertext = sealed.first(sealed.size() - kGcmTagLength);
  std::array<std::uint8_t, kGcmTagLength> tag{};
  std::copy(sealed.end() - kGcmTagLength, sealed.end(), tag.begin());
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = gcmInfo(nonce, aad, tag.data());

  output.resize(ciphertext.size());
  ULONG written = 0;
  const NTSTATUS status =
      BCryptDecrypt(cipher.key(), ciphertext.empty() ? nullptr : const_cast<PUCHAR>(ciphertext.data()),
                    static_cast<ULONG>(ciphertext.size()), &info, nullptr, 0, output.empty() ? nullptr : output.data(),
                    static_cast<ULONG>(output.size()), &written, 0);
  if (succeeded(status) && written == ciphertext.size()) return GcmResult::Ok;
  // BCrypt may have written plaintext before it checked the tag.
  wipeAndClear(output);
  return status == kAuthTagMismatch ? GcmResult::Rejected : GcmResult::ProviderFailed;
}

bool WindowsCryptoHost::aesGcmEncrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan plaintext,
                                      std::vector<std::uint8_t>& output) {
  output.clear();
  if (plaintext.size() > kGcmTextLimit || aad.size() > kGcmAadLimit) return false;
  const AesKeyObject cipher = gcmKey(key);
  if (!cipher.ready()) return false;
  output.resize(plaintext.size() + kGcmTagLength);
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = gcmInfo(nonce, aad, output.data() + plaintext.size());
  ULONG written = 0;
  const NTSTATUS status =
      BCryptEncrypt(cipher.key(), plaintext.empty() ? nullptr : const_cast<PUCHAR>(plaintext.data()),
                    static_cast<ULONG>(plaintext.size()), &info, nullptr, 0,
                    plaintext.empty() ? nullptr : output.data(), static_cast<ULONG>(plaintext.size()), &written, 0);
  if (succeeded(status) && written == plaintext.size()) return true;
  wipeVector(output);
  return false;
}

}  // namespace vesmara
