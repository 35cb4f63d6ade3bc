// The cryptography the library uses, behind an interface the core holds
// without seeing a platform handle: SHA-256 hashers, random bytes, AES-256 in
// counter mode (the site keystream) and AES-256-GCM (member sealing, private
// indexes).
//
// Every operation reports failure through its result and never throws
// (memory allocation aside); the caller chooses the failure message.
// Lengths that the platform interface the library was first built on cannot
// take are refused by every implementation alike, so results never depend on
// the platform.
#ifndef VESMARA_HOSTS_CRYPTO_HOST_H_
#define VESMARA_HOSTS_CRYPTO_HOST_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "base/secure_bytes.h"

namespace vesmara {

inline constexpr std::size_t kAesKeyLength = 32;
inline constexpr std::size_t kAesBlockLength = 16;
inline constexpr std::size_t kGcmNonceLength = 12;
inline constexpr std::size_t kGcmTagLength = 16;
inline constexpr std::size_t kSha256Length = 32;

// Longest input of one Hasher::update call and longest randomBytes request.
inline constexpr std::uint64_t kCryptoLengthLimit = 0xFFFFFFFFu;
// Longest GCM plaintext or ciphertext (without the tag), and longest
// additional authenticated data.
inline constexpr std::uint64_t kGcmTextLimit = 0xFFFFFFEFu;
inline constexpr std::uint64_t kGcmAadLimit = 0xFFFFFFFFu;

static_assert(SecretKey::kSize == kAesKeyLength);

using AesKey = std::span<const std::uint8_t, kAesKeyLength>;
using CounterBlock = std::span<const std::uint8_t, kAesBlockLength>;
using GcmNonce = std::span<const std::uint8_t, kGcmNonceLength>;
using ByteSpan = std::span<const std::uint8_t>;
using Sha256Digest = std::array<std::uint8_t, kSha256Length>;

// The numbers are fixed: callers store and compare them.
enum class GcmResult : std::uint32_t {
  Ok = 0,              // plaintext produced
  Rejected = 1,        // a length out of range, or the tag does not authenticate the data under the key
  ProviderFailed = 2,  // the platform could not set up or run the cipher
};

// One incremental SHA-256 computation: any number of update calls, then one
// finish; afterwards the hasher is discarded. A failed update spoils the
// hasher, so that finish cannot return the digest of fewer bytes than were
// passed.
class Hasher {
 public:
  virtual ~Hasher() = default;
  // Fails above kCryptoLengthLimit bytes.
  virtual bool update(ByteSpan data) = 0;
  virtual bool finish(std::span<std::uint8_t, kSha256Length> digest) = 0;
};

// Stateless as seen by callers: operations may run on any thread at the same
// time. The order of the virtual operations is part of the contract.
class CryptoHost {
 public:
  virtual ~CryptoHost() = default;

  // Null when the platform cannot create a hasher.
  virtual std::unique_ptr<Hasher> createHasher() = 0;

  // Fills `buffer` from the system random generator. An empty or null buffer
  // fails untouched; above kCryptoLengthLimit bytes, or when the generator
  // fails, the buffer is zeroed and the call fails.
  virtual bool randomBytes(std::span<std::uint8_t> buffer) = 0;

  // AES-256 counter mode: `output` becomes `input` XOR the keystream of the
  // counter blocks `counter`, `counter` + 1, ..., each block one 128-bit
  // big-endian integer that wraps from all ones to all zeros. Its own
  // inverse. `input` may be `output`'s own bytes (in place) or must not
  // overlap them. On failure `output` keeps the input's length; the bytes
  // from the failing step on are zero.
  virtual bool aesCtrTransform(AesKey key, CounterBlock counter, ByteSpan input, SecureBytes& output) = 0;

  // True exactly when aesGcmDecryptDetailed would return Ok.
  virtual bool aesGcmDecrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed, SecureBytes& output) = 0;

  // Opens `sealed` (ciphertext followed by the 16-byte tag). `output` holds
  // the plaintext on Ok and is empty otherwise: no unauthenticated byte is
  // ever left in it. Sealed spans shorter than the tag, ciphertexts above
  // kGcmTextLimit and additional data above kGcmAadLimit are Rejected before
  // the platform is called.
  virtual GcmResult aesGcmDecryptDetailed(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan sealed,
                                          SecureBytes& output) = 0;

  // Seals `plaintext` into `output` (ciphertext followed by the 16-byte tag).
  // Fails, with `output` empty, above kGcmTextLimit or kGcmAadLimit bytes or
  // when the platform fails.
  virtual bool aesGcmEncrypt(AesKey key, GcmNonce nonce, ByteSpan aad, ByteSpan plaintext,
                             std::vector<std::uint8_t>& output) = 0;
};

// SHA-256 of `data` in one go (create, one update, finish). False when the
// provider fails; `digest` is then unset.
bool computeSha256(CryptoHost& crypto, ByteSpan data, Sha256Digest& digest);

}  // namespace vesmara

#endif  // VESMARA_HOSTS_CRYPTO_HOST_H_
