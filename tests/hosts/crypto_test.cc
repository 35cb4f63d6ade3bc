#include <gtest/gtest.h>

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on
#else
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <sys/mman.h>
#endif

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/hex.h"
#include "base/secure_bytes.h"
#include "hosts/crypto_host.h"
#include "hosts/platform.h"
#ifdef _WIN32
#include "hosts/windows/windows_crypto_host.h"
#else
#include "hosts/posix/openssl_crypto_host.h"
#endif

namespace vesmara {
namespace {

using Bytes = std::vector<std::uint8_t>;

#ifdef _WIN32
// BCrypt takes 32-bit lengths and needs no pieces; what the pieces stand for
// in the counter transform is the number of counter blocks per BCrypt call.
class PlatformCryptoHost : public WindowsCryptoHost {
 public:
  explicit PlatformCryptoHost(void* /*library*/ = nullptr,
                              std::size_t piece_length = kDefaultCounterBlocksPerCall * kAesBlockLength)
      : WindowsCryptoHost(piece_length / kAesBlockLength) {}
};
#else
using PlatformCryptoHost = OpenSslCryptoHost;
#endif

Bytes fromHex(std::string_view hex) {
  Bytes bytes(hex.size() / 2);
  EXPECT_TRUE(decodeLowerHex(hex, bytes)) << hex;
  return bytes;
}

template <std::size_t N>
std::array<std::uint8_t, N> arrayFromHex(std::string_view hex) {
  std::array<std::uint8_t, N> bytes{};
  EXPECT_TRUE(decodeLowerHex(hex, bytes)) << hex;
  return bytes;
}

ByteSpan textBytes(std::string_view text) { return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}; }

Bytes patternBytes(std::size_t length) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
  return bytes;
}

Bytes plain(const SecureBytes& bytes) { return Bytes(bytes.begin(), bytes.end()); }

// True when the whole capacity of `bytes` is zero: no plaintext left behind
// in storage the vector still owns.
bool storageIsZero(const SecureBytes& bytes) {
  for (std::size_t i = 0; i < bytes.capacity(); ++i) {
    if (bytes.data()[i] != 0) return false;
  }
  return true;
}

// Reserved address space that faults on any access: a span over it shows
// that a length is refused before a single byte is read.
class UntouchableRegion {
 public:
  static constexpr std::size_t kLength = (std::size_t{1} << 32) + 4096;

#ifdef _WIN32
  UntouchableRegion() : base_(VirtualAlloc(nullptr, kLength, MEM_RESERVE, PAGE_NOACCESS)) {}
  ~UntouchableRegion() {
    if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
  }
  bool reserved() const { return base_ != nullptr; }
#else
  UntouchableRegion() : base_(mmap(nullptr, kLength, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0)) {}
  ~UntouchableRegion() {
    if (base_ != MAP_FAILED) munmap(base_, kLength);
  }
  bool reserved() const { return base_ != MAP_FAILED; }
#endif
  UntouchableRegion(const UntouchableRegion&) = delete;
  UntouchableRegion& operator=(const UntouchableRegion&) = delete;

  std::span<std::uint8_t> span(std::size_t length) const { return {static_cast<std::uint8_t*>(base_), length}; }

 private:
  void* base_;
};

#ifndef _WIN32
// A library context whose only provider is OpenSSL's "null" provider: every
// algorithm fetch fails, as on a system whose provider cannot be loaded.
class EmptyLibrary {
 public:
  EmptyLibrary() : context_(OSSL_LIB_CTX_new()), provider_(OSSL_PROVIDER_load(context_, "null")) {}
  ~EmptyLibrary() {
    OSSL_PROVIDER_unload(provider_);
    OSSL_LIB_CTX_free(context_);
  }
  EmptyLibrary(const EmptyLibrary&) = delete;
  EmptyLibrary& operator=(const EmptyLibrary&) = delete;

  bool loaded() const { return provider_ != nullptr; }
  OSSL_LIB_CTX* context() const { return context_; }

 private:
  OSSL_LIB_CTX* context_;
  OSSL_PROVIDER* provider_;
};

#endif  // !_WIN32

std::string hexDigest(Hasher& hasher) {
  Sha256Digest digest{};
  if (!hasher.finish(digest)) return "finish failed";
  return encodeLowerHex(digest);
}

// Counter mode built the long way: one ECB block per step and a 128-bit
// big-endian increment, independent of the provider's counter mode.
#ifdef _WIN32
Bytes ecbBuiltCtr(AesKey key, std::array<std::uint8_t, kAesBlockLength> counter, ByteSpan input) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_KEY_HANDLE handle = nullptr;
  EXPECT_GE(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_AES_ALGORITHM, nullptr, 0), 0);
  EXPECT_GE(BCryptSetProperty(algorithm, BCRYPT_CHAINING_MODE,
                              reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)),
                              sizeof(BCRYPT_CHAIN_MODE_ECB), 0),
            0);
  EXPECT_GE(BCryptGenerateSymmetricKey(algorithm, &handle, nullptr, 0, const_cast<PUCHAR>(key.data()), 32, 0), 0);
  Bytes output(input.size());
  for (std::size_t offset = 0; offset < input.size(); offset += kAesBlockLength) {
    std::array<std::uint8_t, kAesBlockLength> keystream{};
    ULONG written = 0;
    EXPECT_GE(BCryptEncrypt(handle, counter.data(), kAesBlockLength, nullptr, nullptr, 0, keystream.data(),
                            kAesBlockLength, &written, 0),
              0);
    EXPECT_EQ(written, kAesBlockLength);
    for (std::size_t i = 0; i < kAesBlockLength && offset + i < input.size(); ++i) {
      output[offset + i] = input[offset + i] ^ keystream[i];
    }
    for (std::size_t i = kAesBlockLength; i-- > 0;) {
      if (++counter[i] != 0) break;
    }
  }
  BCryptDestroyKey(handle);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return output;
}
#else
Bytes ecbBuiltCtr(AesKey key, std::array<std::uint8_t, kAesBlockLength> counter, ByteSpan input) {
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  EXPECT_EQ(EVP_EncryptInit_ex2(context, EVP_aes_256_ecb(), key.data(), nullptr, nullptr), 1);
  EVP_CIPHER_CTX_set_padding(context, 0);
  Bytes output(input.size());
  for (std::size_t offset = 0; offset < input.size(); offset += kAesBlockLength) {
    std::array<std::uint8_t, kAesBlockLength> keystream{};
    int written = 0;
    EXPECT_EQ(EVP_EncryptUpdate(context, keystream.data(), &written, counter.data(), kAesBlockLength), 1);
    EXPECT_EQ(written, static_cast<int>(kAesBlockLength));
    for (std::size_t i = 0; i < kAesBlockLength && offset + i < input.size(); ++i) {
      output[offset + i] = input[offset + i] ^ keystream[i];
    }
    for (std::size_t i = kAesBlockLength; i-- > 0;) {
      if (++counter[i] != 0) break;
    }
  }
  EVP_CIPHER_CTX_free(context);
  return output;
}
#endif


const auto kKey = arrayFromHex<kAesKeyLength>("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");

TEST(Sha256, PublishedDigestsInOneUpdateOrByteByByte) {
  const struct {
    std::string_view message;
    std::string_view digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
  };
  PlatformCryptoHost crypto;
  for (const auto& c : cases) {
    const ByteSpan message = textBytes(c.message);
    const auto whole = crypto.createHasher();
    ASSERT_NE(whole, nullptr);
    ASSERT_TRUE(whole->update(message));
    EXPECT_EQ(hexDigest(*whole), c.digest) << c.message;

    const auto bytewise = crypto.createHasher();
    for (std::size_t i = 0; i < message.size(); ++i) ASSERT_TRUE(bytewise->update(message.subspan(i, 1)));
    EXPECT_EQ(hexDigest(*bytewise), c.digest) << c.message;

    Sha256Digest digest{};
    ASSERT_TRUE(computeSha256(crypto, message, digest));
    EXPECT_EQ(encodeLowerHex(digest), c.digest) << c.message;
  }
}

TEST(Sha256, MillionLettersInUnevenPieces) {
  const std::string letters(1000000, 'a');
  const ByteSpan message = textBytes(letters);
  const auto hasher = defaultPlatform().makeCryptoHost()->createHasher();
  ASSERT_NE(hasher, nullptr);
  std::size_t offset = 0;
  for (std::size_t piece = 1; offset < message.size(); piece = piece % 4099 + 1) {
    const std::size_t length = std::min(piece, message.size() - offset);
    ASSERT_TRUE(hasher->update(message.subspan(offset, length)));
    offset += length;
  }
  EXPECT_EQ(hexDigest(*hasher), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, HasherServesOneDigestAndNeverADigestOfFewerBytes) {
  PlatformCryptoHost crypto;
  Sha256Digest digest{};

  const auto finished = crypto.createHasher();
  ASSERT_TRUE(finished->update(textBytes("abc")));
  ASSERT_TRUE(finished->finish(digest));
  EXPECT_FALSE(finished->update(textBytes("abc")));
  EXPECT_FALSE(finished->finish(digest));

  // An update above the length limit is refused without reading the data,
  // and the digest of what came before it is not handed out.
  const UntouchableRegion region;
  ASSERT_TRUE(region.reserved());
  const auto refused = crypto.createHasher();
  ASSERT_TRUE(refused->update(textBytes("abc")));
  EXPECT_FALSE(refused->update(region.span(kCryptoLengthLimit + 1)));
  EXPECT_FALSE(refused->update(textBytes("abc")));
  EXPECT_FALSE(refused->finish(digest));
}

TEST(RandomBytes, FillsBuffersAndRefusesEmptyOnesUntouched) {
  PlatformCryptoHost crypto;
  std::array<std::uint8_t, 4> sentinel = {1, 2, 3, 4};
  EXPECT_FALSE(crypto.randomBytes(std::span<std::uint8_t>(sentinel.data(), 0)));
  EXPECT_FALSE(crypto.randomBytes({}));
  EXPECT_EQ(sentinel, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));

  std::array<std::uint8_t, 32> first{};
  std::array<std::uint8_t, 32> second{};
  ASSERT_TRUE(crypto.randomBytes(first));
  ASSERT_TRUE(crypto.randomBytes(second));
  EXPECT_NE(first, second);
  EXPECT_NE(first, (std::array<std::uint8_t, 32>{}));
}

TEST(AesCtr, PublishedVectorAndItsInverse) {
  // AES-256 counter mode example of NIST SP 800-38A (F.5.5).
  const auto counter = arrayFromHex<kAesBlockLength>("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
  const Bytes plaintext = fromHex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const Bytes ciphertext = fromHex(
      "601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
      "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6");
  PlatformCryptoHost crypto;
  SecureBytes output;
  ASSERT_TRUE(crypto.aesCtrTransform(kKey, counter, plaintext, output));
  EXPECT_EQ(plain(output), ciphertext);
  ASSERT_TRUE(crypto.aesCtrTransform(kKey, counter, ciphertext, output));
  EXPECT_EQ(plain(output), plaintext);
}

TEST(AesCtr, MatchesEcbBuiltCounterModeAcrossEveryCarry) {
  const std::string_view counters[] = {
      "ffffffffffffffffffffffffffffffff",  // wraps to all zeros
      "000102030405060708090a0b0c0d0eff",  // carry out of the last byte only
      "00000000000000000000000effffffff",  // carry out of the low 32 bits
      "00000000000000feffffffffffffffff",  // carry out of the low 64 bits
      "0fffffffffffffffffffffffffffffff",  // carry through all but the first byte
      "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
  };
  const std::size_t lengths[] = {0, 1, 15, 16, 17, 64, 1000};
  PlatformCryptoHost crypto;
  PlatformCryptoHost small_pieces(nullptr, 7);
  for (const std::string_view counter_hex : counters) {
    const auto counter = arrayFromHex<kAesBlockLength>(counter_hex);
    for (const std::size_t length : lengths) {
      const Bytes input = patternBytes(length);
      const Bytes expected = ecbBuiltCtr(kKey, counter, input);
      SecureBytes output = {9, 9, 9};  // replaced, whatever it held
      ASSERT_TRUE(crypto.aesCtrTransform(kKey, counter, input, output));
      EXPECT_EQ(plain(output), expected) << counter_hex << " " << length;
      ASSERT_TRUE(small_pieces.aesCtrTransform(kKey, counter, input, output));
      EXPECT_EQ(plain(output), expected) << counter_hex << " " << length << " in pieces";
    }
  }
}

TEST(AesCtr, TransformsInPlace) {
  const auto counter = arrayFromHex<kAesBlockLength>("00000000000000000000000000000001");
  const Bytes input = patternBytes(4099);
  SecureBytes bytes(input.begin(), input.end());
  PlatformCryptoHost crypto(nullptr, 1000);
  ASSERT_TRUE(crypto.aesCtrTransform(kKey, counter, bytes, bytes));
  EXPECT_EQ(plain(bytes), ecbBuiltCtr(kKey, counter, input));
  ASSERT_TRUE(crypto.aesCtrTransform(kKey, counter, bytes, bytes));
  EXPECT_EQ(plain(bytes), input);
}

// McGrew and Viega's AES-256 GCM test cases 13 to 16 (96-bit nonces).
struct GcmVector {
  const char* name;
  std::string_view key;
  std::string_view nonce;
  std::string_view aad;
  std::string_view plaintext;
  std::string_view ciphertext;
  std::string_view tag;
};

constexpr std::string_view kGcmKey = "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308";
constexpr std::string_view kGcmNonce = "cafebabefacedbaddecaf888";
constexpr std::string_view kZeroKey = "0000000000000000000000000000000000000000000000000000000000000000";
constexpr std::string_view kZeroNonce = "000000000000000000000000";

const GcmVector kGcmVectors[] = {
    {"13", kZeroKey, kZeroNonce, "", "", "", "530f8afbc74536b9a963b4f1c4cb738b"},
    {"14", kZeroKey, kZeroNonce, "", "00000000000000000000000000000000", "cea7403d4d606b6e074ec5d3baf39d18",
     "d0d1c8a799996bf0265b98b5d48ab919"},
    {"15", kGcmKey, kGcmNonce, "",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
     "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255",
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
     "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662898015ad",
     "b094dac5d93471bdec1a502270e3cc6c"},
    {"16", kGcmKey, kGcmNonce, "feedfacedeadbeeffeedfacedeadbeefabaddad2",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
     "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39",
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
     "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662",
     "76fc6ece0f4e1768cddf8853bb2d551b"},
};

TEST(AesGcm, PublishedVectorsSealAndOpen) {
  PlatformCryptoHost crypto;
  PlatformCryptoHost small_pieces(nullptr, 7);
  for (const GcmVector& v : kGcmVectors) {
    const auto key = arrayFromHex<kAesKeyLength>(v.key);
    const auto nonce = arrayFromHex<kGcmNonceLength>(v.nonce);
    const Bytes aad = fromHex(v.aad);
    const Bytes plaintext = fromHex(v.plaintext);
    Bytes sealed_expected = fromHex(v.ciphertext);
    const Bytes tag = fromHex(v.tag);
    sealed_expected.insert(sealed_expected.end(), tag.begin(), tag.end());

    for (CryptoHost* host : {static_cast<CryptoHost*>(&crypto), static_cast<CryptoHost*>(&small_pieces)}) {
      Bytes sealed = {1, 2, 3};
      ASSERT_TRUE(host->aesGcmEncrypt(key, nonce, aad, plaintext, sealed)) << v.name;
      EXPECT_EQ(sealed, sealed_expected) << v.name;

      SecureBytes opened = {1, 2, 3};
      EXPECT_EQ(host->aesGcmDecryptDetailed(key, nonce, aad, sealed_expected, opened), GcmResult::Ok) << v.name;
      EXPECT_EQ(plain(opened), plaintext) << v.name;
      EXPECT_TRUE(host->aesGcmDecrypt(key, nonce, aad, sealed_expected, opened)) << v.name;
      EXPECT_EQ(plain(opened), plaintext) << v.name;
    }
  }
}

TEST(AesGcm, TamperingIsRejectedAndLeavesNoPlaintext) {
  const GcmVector& v = kGcmVectors[3];
  const auto key = arrayFromHex<kAesKeyLength>(v.key);
  const auto nonce = arrayFromHex<kGcmNonceLength>(v.nonce);
  const Bytes aad = fromHex(v.aad);
  Bytes sealed = fromHex(v.ciphertext);
  const Bytes tag = fromHex(v.tag);
  sealed.insert(sealed.end(), tag.begin(), tag.end());

  struct Tamper {
    const char* name;
    std::size_t key_bit = SIZE_MAX;
    std::size_t nonce_bit = SIZE_MAX;
    std::size_t aad_bit = SIZE_MAX;
    std::size_t sealed_bit = SIZE_MAX;
    bool drop_last = false;
  };
  const std::size_t tag_start = (sealed.size() - kGcmTagLength) * 8;
  const Tamper cases[] = {
      {.name = "tag first bit", .sealed_bit = tag_start},
      {.name = "tag last bit", .sealed_bit = sealed.size() * 8 - 1},
      {.name = "ciphertext", .sealed_bit = 100},
      {.name = "additional data", .aad_bit = 0},
      {.name = "nonce", .nonce_bit = 95},
      {.name = "key", .key_bit = 3},
      {.name = "truncated", .drop_last = true},
  };
  PlatformCryptoHost crypto;
  for (const Tamper& c : cases) {
    auto bad_key = key;
    auto bad_nonce = nonce;
    Bytes bad_aad = aad;
    Bytes bad_sealed = sealed;
    const auto flip = [](auto& bytes, std::size_t bit) {
      if (bit != SIZE_MAX) bytes[bit / 8] ^= static_cast<std::uint8_t>(0x80 >> (bit % 8));
    };
    flip(bad_key, c.key_bit);
    flip(bad_nonce, c.nonce_bit);
    flip(bad_aad, c.aad_bit);
    flip(bad_sealed, c.sealed_bit);
    if (c.drop_last) bad_sealed.pop_back();

    SecureBytes opened(sealed.size(), 0x5a);  // room for the plaintext OpenSSL writes before the tag check
    EXPECT_EQ(crypto.aesGcmDecryptDetailed(bad_key, bad_nonce, bad_aad, bad_sealed, opened), GcmResult::Rejected)
        << c.name;
    EXPECT_TRUE(opened.empty()) << c.name;
    EXPECT_TRUE(storageIsZero(opened)) << c.name;
    EXPECT_FALSE(crypto.aesGcmDecrypt(bad_key, bad_nonce, bad_aad, bad_sealed, opened)) << c.name;
    EXPECT_TRUE(opened.empty()) << c.name;
  }
}

TEST(AesGcm, LengthsOutOfRangeAreRefusedBeforeAnyByteIsRead) {
  const UntouchableRegion region;
  ASSERT_TRUE(region.reserved());
  const std::array<std::uint8_t, kAesKeyLength> key{};
  const std::array<std::uint8_t, kGcmNonceLength> nonce{};
  const Bytes short_sealed(kGcmTagLength - 1);
  const Bytes tag_only = fromHex(kGcmVectors[0].tag);
  PlatformCryptoHost crypto;
#ifndef _WIN32
  EmptyLibrary empty;
  ASSERT_TRUE(empty.loaded());
  OpenSslCryptoHost broken(empty.context());
#endif

  SecureBytes opened = {1};
  EXPECT_EQ(crypto.aesGcmDecryptDetailed(key, nonce, {}, {}, opened), GcmResult::Rejected);
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(crypto.aesGcmDecryptDetailed(key, nonce, {}, short_sealed, opened), GcmResult::Rejected);
#ifndef _WIN32
  EXPECT_EQ(broken.aesGcmDecryptDetailed(key, nonce, {}, short_sealed, opened), GcmResult::Rejected);
#endif
  EXPECT_EQ(crypto.aesGcmDecryptDetailed(key, nonce, {}, tag_only, opened), GcmResult::Ok);
  EXPECT_TRUE(opened.empty());

  EXPECT_EQ(crypto.aesGcmDecryptDetailed(key, nonce, {}, region.span(kGcmTextLimit + kGcmTagLength + 1), opened),
            GcmResult::Rejected);
  EXPECT_EQ(crypto.aesGcmDecryptDetailed(key, nonce, region.span(kGcmAadLimit + 1), tag_only, opened),
            GcmResult::Rejected);
  EXPECT_TRUE(opened.empty());

  Bytes sealed = {1};
  EXPECT_FALSE(crypto.aesGcmEncrypt(key, nonce, {}, region.span(kGcmTextLimit + 1), sealed));
  EXPECT_TRUE(sealed.empty());
  EXPECT_FALSE(crypto.aesGcmEncrypt(key, nonce, region.span(kGcmAadLimit + 1), {}, sealed));
  EXPECT_TRUE(sealed.empty());
}

#ifndef _WIN32  // needs an OpenSSL library context without providers
TEST(ProviderFailure, IsToldApartFromRejection) {
  EmptyLibrary empty;
  ASSERT_TRUE(empty.loaded());
  OpenSslCryptoHost broken(empty.context());
  const GcmVector& v = kGcmVectors[2];
  const auto key = arrayFromHex<kAesKeyLength>(v.key);
  const auto nonce = arrayFromHex<kGcmNonceLength>(v.nonce);
  Bytes sealed = fromHex(v.ciphertext);
  const Bytes tag = fromHex(v.tag);
  sealed.insert(sealed.end(), tag.begin(), tag.end());

  EXPECT_EQ(broken.createHasher(), nullptr);
  Sha256Digest digest{};
  EXPECT_FALSE(computeSha256(broken, textBytes("abc"), digest));

  SecureBytes opened = {1};
  EXPECT_EQ(broken.aesGcmDecryptDetailed(key, nonce, {}, sealed, opened), GcmResult::ProviderFailed);
  EXPECT_TRUE(opened.empty());
  EXPECT_FALSE(broken.aesGcmDecrypt(key, nonce, {}, sealed, opened));

  Bytes resealed = {1};
  EXPECT_FALSE(broken.aesGcmEncrypt(key, nonce, {}, fromHex(v.plaintext), resealed));
  EXPECT_TRUE(resealed.empty());

  SecureBytes transformed = {1, 2};
  EXPECT_FALSE(broken.aesCtrTransform(key, arrayFromHex<kAesBlockLength>("00000000000000000000000000000000"),
                                      sealed, transformed));

  std::array<std::uint8_t, 8> random = {1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_FALSE(broken.randomBytes(random));
  EXPECT_EQ(random, (std::array<std::uint8_t, 8>{}));
}

#endif

}  // namespace
}  // namespace vesmara
