#include "hosts/posix/openssl_crypto_host.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>

#include "base/wipe.h"

namespace vesmara {
namespace {

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
// Freeing a context also clears its key schedule and GCM state.
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

class OpenSslHasher final : public Hasher {
 public:
  explicit OpenSslHasher(const EVP_MD* sha256) : context_(EVP_MD_CTX_new()) {
    ready_ = sha256 != nullptr && context_ != nullptr && EVP_DigestInit_ex2(context_, sha256, nullptr) == 1;
  }
  ~OpenSslHasher() override { EVP_MD_CTX_free(context_); }

  OpenSslHasher(const OpenSslHasher&) = delete;
  OpenSslHasher& operator=(const OpenSslHasher&) = delete;

  bool ready() const { return ready_; }

  bool update(ByteSpan data) override {
    if (!ready_) return false;
    ready_ = data.size() <= kCryptoLengthLimit && EVP_DigestUpdate(context_, data.data(), data.size()) == 1;
    return ready_;
  }

  bool finish(std::span<std::uint8_t, kSha256Length> digest) override {
    if (!ready_) return false;
    ready_ = false;
    unsigned int length = 0;
    return EVP_DigestFinal_ex(context_, digest.data(), &length) == 1 && length == kSha256Length;
  }

 private:
  EVP_MD_CTX* context_;
  bool ready_ = false;
};

// A context for `cipher` with key and initial block or nonce set, or null
// when OpenSSL cannot set it up. GCM nonces are 12 bytes, OpenSSL's default,
// which is set explicitly anyway so the nonce length never depends on it.
CipherContext startCipher(const EVP_CIPHER* cipher, bool encrypt, AesKey key, std::span<const std::uint8_t> iv) {
  CipherContext context(EVP_CIPHER_CTX_new());
  if (cipher == nullptr || context == nullptr) return nullptr;
  const int direction = encrypt ? 1 : 0;
  if (EVP_CipherInit_ex2(context.get(), cipher, nullptr, nullptr, direction, nullptr) != 1) return nullptr;
  if (EVP_CIPHER_CTX_get_mode(context.get()) == EVP_CIPH_GCM_MODE &&
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_IVLEN, static_cast<int>(iv.size()), nullptr) != 1) {
    return nullptr;
  }
  if (EVP_CIPHER_CTX_get_iv_length(context.get()) != static_cast<int>(iv.size()) ||
      EVP_CipherInit_ex2(context.get(), nullptr, key.data(), iv.data(), direction, nullptr) != 1) {
    return nullptr;
  }
  return context;
}

// Feeds `input` through the cipher in pieces OpenSSL accepts, writing to
// `output` at the same offsets (null: `input` is GCM additional data).
// Returns how many bytes went through before the first failing piece; every
// piece must report exactly its own length.
std::size_t updateCipher(EVP_CIPHER_CTX* context, std::size_t piece_length, ByteSpan input, std::uint8_t* output) {
  std::size_t done = 0;
  while (done < input.size()) {
    const int length = static_cast<int>(std::min(input.size() - done, piece_length));
    int written = 0;
    if (EVP_CipherUpdate(context, output == nullptr ? nullptr : output + done, &written, input.data() + done, length) !=
            1 ||
        written != length) {
      break;
    }
    done += static_cast<std::size_t>(length);
  }
  return done;
}

// GCM finishes without output; the buffer only gives OpenSSL somewhere valid
// to point at. False when OpenSSL refuses to finish; `written` is what it
// reports having written, which must be 0.
bool finishCipher(EVP_CIPHER_CTX* context, int& written) {
  std::uint8_t unused[kAesBlockLength];
  written = 0;
  return EVP_CipherFinal_ex(context, unused, &written) == 1;
}

}  // namespace

OpenSslCryptoHost::OpenSslCryptoHost(OSSL_LIB_CTX* library, std::size_t piece_length)
    : library_(library),
      piece_length_(std::clamp<std::size_t>(piece_length, 1, kMaxPieceLength)),
      sha256_(EVP_MD_fetch(library, "SHA2-256", nullptr)),
      aes_ctr_(EVP_CIPHER_fetch(library, "AES-256-CTR", nullptr)),
      aes_gcm_(EVP_CIPHER_fetch(library, "AES-256-GCM", nullptr)) {}

OpenSslCryptoHost::~OpenSslCryptoHost() {
  EVP_CIPHER_free(aes_gcm_);
  EVP_CIPHER_free(aes_ctr_);
  EVP_MD_free(sha256_);
}

std::unique_ptr<Hasher> OpenSslCryptoHost::createHasher() {
  auto hasher = std::make_unique<OpenSslHasher>(sha256_);
  if (!hasher->ready()) return nullptr;
  return hasher;
}

bool OpenSslCryptoHost::randomBytes(std::span<std::uint8_t> buffer) {
  if (buffer.data() == nullptr || buffer.empty()) return false;
  if (buffer.size() > kCryptoLengthLimit || RAND_bytes_ex(library_, buffer.data(), buffer.size(), 0) != 1) {
    wipeBytes(buffer.data(), buffer.size());
    return false;
  }
  return true;
}

bool OpenSslCryptoHost::aesCtrTransform(AesKey key, CounterBlock counter, ByteSpan input, SecureBytes& output) {
  // OpenSSL's counter mode treats the whole 16-byte block as one big-endian
  // counter with wrap-around, which is exactly the keystream required.
  const CipherContext context = startCipher(aes_ctr_, true, key, counter);
  if (context == nullptr) return false;
  output.resize(input.size());
  const std::size_t done = updateCipher(context.get(), piece_length_, input, output.data());
  if (done == input.size()) return true;
  wipeBytes(output.data() + done, output.size() - done);
  return false;
}

bool OpenSslCryptoHost::aesGcmDecrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed, SecureBytes& output) {
  return aesGcmDecryptDetailed(key, nonce, aad, sealed, output) == GcmResult::Ok;
}

GcmResult OpenSslCryptoHost::aesGcmDecryptDetailed(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed,
                                                   SecureBytes& output) {
  output.clear();
  if (sealed.size() < kGcmTagLength || sealed.size() - kGcmTagLength > kGcmTextLimit || aad.size() > kGcmAadLimit) {
    return GcmResult::Rejected;
  }
  const GcmResult result = openGcm(key, nonce, aad, sealed, output);
  // OpenSSL writes plaintext before it has checked the tag.
  if (result != GcmResult::Ok) wipeAndClear(output);
  return result;
}

GcmResult OpenSslCryptoHost::openGcm(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed, SecureBytes& output) {
  const ByteSpan ciphertext = sealed.first(sealed.size() - kGcmTagLength);
  const ByteSpan tag = sealed.last(kGcmTagLength);
  const CipherContext context = startCipher(aes_gcm_, false, key, nonce);
  if (context == nullptr) return GcmResult::ProviderFailed;
  output.resize(ciphertext.size());
  // OpenSSL copies the tag; the cast only satisfies the generic control call.
  void* const tag_bytes = const_cast<std::uint8_t*>(tag.data());
  if (updateCipher(context.get(), piece_length_, aad, nullptr) != aad.size() ||
      updateCipher(context.get(), piece_length_, ciphertext, output.data()) != ciphertext.size() ||
      EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_TAG, static_cast<int>(kGcmTagLength), tag_bytes) != 1) {
    return GcmResult::ProviderFailed;
  }
  // With every step before it accepted, the final check fails only for a tag
  // that does not authenticate the data; a finish that reports output is the
  // provider's own fault.
  int written = 0;
  if (!finishCipher(context.get(), written)) return GcmResult::Rejected;
  return written == 0 ? GcmResult::Ok : GcmResult::ProviderFailed;
}

bool OpenSslCryptoHost::aesGcmEncrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan plaintext,
                                      std::vector<std::uint8_t>& output) {
  output.clear();
  if (plaintext.size() > kGcmTextLimit || aad.size() > kGcmAadLimit) return false;
  if (sealGcm(key, nonce, aad, plaintext, output)) return true;
  wipeVector(output);
  return false;
}

bool OpenSslCryptoHost::sealGcm(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan plaintext,
                                std::vector<std::uint8_t>& output) {
  const CipherContext context = startCipher(aes_gcm_, true, key, nonce);
  if (context == nullptr) return false;
  output.resize(plaintext.size() + kGcmTagLength);
  int written = 0;
  return updateCipher(context.get(), piece_length_, aad, nullptr) == aad.size() &&
         updateCipher(context.get(), piece_length_, plaintext, output.data()) == plaintext.size() &&
         finishCipher(context.get(), written) && written == 0 &&
         EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_GET_TAG, static_cast<int>(kGcmTagLength),
                             output.data() + plaintext.size()) == 1;
}

}  // namespace vesmara
