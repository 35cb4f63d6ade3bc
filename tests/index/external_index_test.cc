#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/base64url.h"
#include "base/byte_writer.h"
#include "base/hex.h"
#include "hosts/platform.h"
#include "hosts/posix/curl_http_host.h"
#include "index/external_index.h"
#include "publish/carrier_writer.h"
#include "publish/external_writer.h"
#include "support/site_fixture.h"
#include "support/test_origin.h"
#include "support/platform_http_host.h"

namespace vesmara {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

PrivateIndexLocator sampleLocator(std::string url = "/store/blob.bin", std::uint64_t offset = 1000) {
  PrivateIndexLocator locator;
  locator.url = std::move(url);
  locator.offset = offset;
  locator.length = 500;
  for (std::size_t i = 0; i < 32; ++i) locator.sha256[i] = static_cast<std::uint8_t>(i);
  for (std::size_t i = 0; i < 12; ++i) locator.nonce[i] = static_cast<std::uint8_t>(0xA0 + i);
  for (std::size_t i = 0; i < 32; ++i) locator.key.mutableBytes()[i] = static_cast<std::uint8_t>(0x40 + i);
  return locator;
}

// A key token laid out by hand (big-endian integers), independent of the writer.
std::string handToken(std::string_view url, std::uint64_t offset, std::uint32_t length) {
  Bytes token = {'V', 'K', 'Q', '1', static_cast<std::uint8_t>(url.size())};
  for (int i = 7; i >= 0; --i) token.push_back(static_cast<std::uint8_t>(offset >> (8 * i)));
  for (int i = 3; i >= 0; --i) token.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
  token.insert(token.end(), 32, 0x11);  // sha256
  token.insert(token.end(), 12, 0x22);  // nonce
  token.insert(token.end(), 32, 0x33);  // key
  token.insert(token.end(), url.begin(), url.end());
  return encodeBase64Url(token);
}

Failure parseFailure(std::string_view text) {
  PrivateIndexLocator locator;
  Failure failure;
  EXPECT_FALSE(parseKeyFile(bytesOf(text), locator, failure)) << text;
  EXPECT_EQ(failure.kind, FailureKind::InvalidData);
  return failure;
}

TEST(KeyFile, HandBuiltTokenAndLineEndings) {
  const std::string token = handToken("/x/sealed.bin", 0x0102030405060708ULL, 4096 + 16);
  for (const std::string ending : {"", "\n", "\r", "\r\n"}) {
    PrivateIndexLocator locator;
    Failure failure;
    ASSERT_TRUE(parseKeyFile(bytesOf("VKRKEY1:" + token + ending), locator, failure)) << failure.message;
    EXPECT_EQ(locator.url, "/x/sealed.bin");
    EXPECT_EQ(locator.offset, 0x0102030405060708ULL);
    EXPECT_EQ(locator.length, 4112u);
    EXPECT_EQ(locator.sha256[0], 0x11);
    EXPECT_EQ(locator.nonce[11], 0x22);
    EXPECT_EQ(locator.key.bytes()[31], 0x33);
  }
}

TEST(KeyFile, RefusalsWithTheirMessages) {
  const std::string good = handToken("/x/sealed.bin", 0, 100);
  // The token is 106 bytes: its last character carries 2 bits of data and 4
  // unused bits, which must be zero.
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string last_bits = good;
  last_bits.back() = kAlphabet[(std::string_view(kAlphabet).find(last_bits.back())) | 1];
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"VKRKEY1", "Invalid external key file"},
      {"vkrkey1:" + good, "Invalid external key file"},
      {"VKRKEY1:" + good + "\n\n", "Invalid external key token"},
      {"VKRKEY1:" + good + "\n\r", "Invalid external key token"},
      {"VKRKEY1:" + std::string(123, 'A'), "Invalid external key length"},
      {"VKRKEY1:" + std::string(465, 'A'), "Invalid external key length"},
      {"VKRKEY1:" + std::string(124, 'A'), "Invalid external key token"},  // 93 bytes
      {"VKRKEY1:" + good + "=", "Invalid external key token"},
      {"VKRKEY1:" + std::string(good).replace(0, 1, "+"), "Invalid external key token"},
      {"VKRKEY1:" + last_bits, "Invalid external key token"},
      {"VKRKEY1:" + handToken("/x/sealed.bin", 0, 100).replace(0, 4, "WktR"), "Invalid external key token"},
      {"VKRKEY1:" + handToken("/favicon.ico", 0, 100), "Invalid external index carrier path or offset"},
      {"VKRKEY1:" + handToken("/x//y", 0, 100), "Invalid external index carrier path or offset"},
      {"VKRKEY1:" + handToken("/x/sealed.bin", 0, 16), "Invalid encrypted index length 16"},
      {"VKRKEY1:" + handToken("/x/sealed.bin", 0, 16777233), "Invalid encrypted index length 16777233"},
      {"VKRKEY1:" + handToken("/x/sealed.bin", UINT64_MAX - 99, 100), "Invalid encrypted index length 100"},
  };
  for (const auto& c : cases) EXPECT_EQ(parseFailure(c.text).message, c.message) << c.text;
  PrivateIndexLocator locator;
  Failure failure;
  EXPECT_TRUE(parseKeyFile(bytesOf("VKRKEY1:" + handToken("/x/sealed.bin", UINT64_MAX - 100, 100)), locator, failure));
}

TEST(KeyFile, WriterAndReaderAgree) {
  const PrivateIndexLocator written = sampleLocator("/" + std::string(255 - 1, 'p'));
  std::string text;
  Failure failure;
  ASSERT_TRUE(publish::writeKeyFile(written, text, failure)) << failure.message;
  PrivateIndexLocator read;
  ASSERT_TRUE(parseKeyFile(bytesOf(text), read, failure)) << failure.message;
  EXPECT_EQ(read.url, written.url);
  EXPECT_EQ(read.length, written.length);
  EXPECT_EQ(read.sha256, written.sha256);
  EXPECT_EQ(read.nonce, written.nonce);
  EXPECT_TRUE(std::equal(read.key.bytes().begin(), read.key.bytes().end(), written.key.bytes().begin()));

  PrivateIndexLocator bad = sampleLocator("/favicon.ico");
  EXPECT_FALSE(publish::writeKeyFile(bad, text, failure));
}

TEST(AdditionalData, BindsLabelPathAndDecimalOffset) {
  const Bytes aad = privateIndexAdditionalData("/a.bin", 0);
  EXPECT_EQ(std::string(aad.begin(), aad.end()), std::string("VKR1-PRIVATE-INDEX\0/a.bin\0" "0", 27));
  const Bytes large = privateIndexAdditionalData("/a.bin", 18446744073709551615ULL);
  EXPECT_EQ(std::string(large.end() - 20, large.end()), "18446744073709551615");
}

// End to end over HTTP: a sealed private index in a file of a loopback origin.
class ExternalIndexTest : public testing::Test {
 protected:
  void SetUp() override {
    index_ = test::makeSiteIndex(3);
    site_ = test::buildSite(*crypto_, index_);
    locator_ = sampleLocator();
    Failure failure;
    ASSERT_TRUE(publish::sealPrivateIndex(*crypto_, site_.container, locator_, sealed_, failure)) << failure.message;
    publishCarrier(sealed_);
  }

  void publishCarrier(const Bytes& sealed, std::uint64_t at = 1000) {
    std::string file = test::TestOrigin::makeBytes(static_cast<std::size_t>(at), 7);
    file.append(sealed.begin(), sealed.end());
    file += "trailing bytes of the carrier";
    origin_.addFile(locator_.url, file);
  }

  std::string keyFile(const PrivateIndexLocator& locator) {
    std::string text;
    Failure failure;
    EXPECT_TRUE(publish::writeKeyFile(locator, text, failure)) << failure.message;
    return text;
  }

  bool load(std::span<const std::uint8_t> material, LoadedIndex& holder, Failure& failure) {
    std::string message;
    test::PlatformHttpHost transport(origin_.origin(), message);
    return loadExternalIndex(transport, *crypto_, material, holder, failure);
  }

  Failure loadFailure(std::span<const std::uint8_t> material) {
    LoadedIndex holder;
    Failure failure;
    EXPECT_FALSE(load(material, holder, failure));
    return failure;
  }

  std::unique_ptr<CryptoHost> crypto_ = defaultPlatform().makeCryptoHost();
  test::TestOrigin origin_;
  SiteIndex index_;
  test::BuiltSite site_;
  PrivateIndexLocator locator_;
  Bytes sealed_;
};

TEST_F(ExternalIndexTest, KeyFileOpensThePrivateIndex) {
  const std::string key_file = keyFile(locator_);
  LoadedIndex holder;
  Failure failure;
  ASSERT_TRUE(load(bytesOf(key_file), holder, failure)) << failure.message;
  EXPECT_EQ(failure.kind, FailureKind::None);
  EXPECT_EQ(holder.digest, test::sha256Hex(*crypto_, site_.container));
  EXPECT_EQ(holder.index.resources.size(), 3u);
  // Exactly one request reaches the origin: the sealed range.
  ASSERT_EQ(origin_.requestCount(), 1u);
  EXPECT_EQ(origin_.requests()[0].range, "bytes=1000-" + std::to_string(1000 + sealed_.size() - 1));
}

TEST_F(ExternalIndexTest, IcoCredentialOpensThePrivateIndex) {
  for (const std::uint16_t version : {1, 2}) {
    Bytes credential;
    Failure failure;
    ASSERT_TRUE(publish::writeIcoCredential(*crypto_, locator_, publish::defaultIcon(), version, credential, failure));
    LoadedIndex holder;
    ASSERT_TRUE(load(credential, holder, failure)) << failure.message;
    EXPECT_EQ(holder.index.entry, index_.entry);
  }
}

TEST_F(ExternalIndexTest, ServerIgnoringRangesIsAcceptedWhenTheFileCoversTheRange) {
  origin_.setGlobalBehaviour({.ignoreRanges = true});
  const std::string key_file = keyFile(locator_);
  LoadedIndex holder;
  Failure failure;
  ASSERT_TRUE(load(bytesOf(key_file), holder, failure)) << failure.message;

  PrivateIndexLocator beyond = locator_;
  beyond.offset = 100000;  // past the end of the file
  EXPECT_EQ(loadFailure(bytesOf(keyFile(beyond))).message, "External index fallback is too short");
}

TEST_F(ExternalIndexTest, ResponseAndCryptoFailures) {
  const auto failure_for = [this](const PrivateIndexLocator& locator) { return loadFailure(bytesOf(keyFile(locator))); };
  {
    origin_.setGlobalBehaviour({.wrongContentRange = true});
    const Failure failure = failure_for(locator_);
    EXPECT_EQ(failure.message, "External index range mismatch");
    EXPECT_EQ(failure.kind, FailureKind::Integrity);
    origin_.clearBehaviours();
  }
  {
    PrivateIndexLocator locator = locator_;
    locator.sha256[0] ^= 1;
    const Failure failure = failure_for(locator);
    EXPECT_EQ(failure.message, "External index ciphertext digest mismatch");
    EXPECT_EQ(failure.kind, FailureKind::Integrity);
  }
  {
    PrivateIndexLocator locator = locator_;
    locator.key.mutableBytes()[0] ^= 1;
    const Failure failure = failure_for(locator);
    EXPECT_EQ(failure.message, "External index key or authentication failed");
    EXPECT_EQ(failure.kind, FailureKind::Authentication);
  }
  {
    // The same sealed bytes at another place of the file: the digest matches,
    // the additional data does not.
    PrivateIndexLocator moved = locator_;
    moved.offset = 3000;
    publishCarrier(Bytes(sealed_.begin(), sealed_.end()), 3000);
    const Failure failure = failure_for(moved);
    EXPECT_EQ(failure.message, "External index key or authentication failed");
    EXPECT_EQ(failure.kind, FailureKind::Authentication);
  }
  {
    // A private index that opens to fewer than 4,096 bytes.
    PrivateIndexLocator small = locator_;
    Bytes sealed;
    ASSERT_TRUE(crypto_->aesGcmEncrypt(small.key.bytes(), small.nonce,
                                       privateIndexAdditionalData(small.url, small.offset), Bytes(100, 'x'), sealed));
    ASSERT_TRUE(computeSha256(*crypto_, sealed, small.sha256));
    small.length = sealed.size();
    publishCarrier(sealed);
    const Failure failure = failure_for(small);
    EXPECT_EQ(failure.message, "External index key or authentication failed");
    EXPECT_EQ(failure.kind, FailureKind::Authentication);
  }
  {
    origin_.removeFile(locator_.url);
    const Failure failure = failure_for(locator_);
    EXPECT_EQ(failure.kind, FailureKind::Transport);
    EXPECT_FALSE(failure.message.empty());
  }
}

TEST_F(ExternalIndexTest, CredentialRefusals) {
  const auto credential_with = [this](const std::string& document) {
    Bytes container;
    Bytes credential;
    Failure failure;
    EXPECT_TRUE(publish::buildContainer(*crypto_, publish::defaultBootstrap(), document, container, failure));
    EXPECT_TRUE(publish::buildFavicon(*crypto_, publish::defaultIcon(), container, 1, credential, failure));
    return credential;
  };
  const std::string members =
      "\"url\":\"/store/blob.bin\",\"offset\":1000,\"length\":" + std::to_string(sealed_.size()) +
      ",\"algorithm\":\"AES-256-GCM\",\"sha256\":\"" + encodeLowerHex(locator_.sha256) + "\",\"nonce\":\"" +
      encodeLowerHex(locator_.nonce) + "\",\"key\":\"" + encodeLowerHex(locator_.key.bytes()) + "\"";
  {
    LoadedIndex holder;
    Failure failure;
    EXPECT_TRUE(load(credential_with("{\"privateIndex\":{" + members + "},\"other\":1}"), holder, failure))
        << failure.message;
  }
  const struct {
    std::string document;
    const char* message;
  } cases[] = {
      {"{\"privateIndex\":{" + members + "},\"webApp\":{}}", "ICO credential has no unambiguous private index"},
      {"{\"privateIndex\":{" + members + ",\"extra\":1}}", "ICO credential has no unambiguous private index"},
      {"{\"privateindex\":{" + members + "}}", "ICO credential has no unambiguous private index"},
      {"[]", "ICO credential has no unambiguous private index"},
      {"{\"privateIndex\":{" + std::string(members).replace(members.find("AES-256-GCM"), 11, "AES-256-CTR") + "}}",
       "Invalid private index locator in ICO credential"},
      {"{\"privateIndex\":{" + std::string(members).replace(members.find("\"length\":"), 9, "\"lengtH\":") + "}}",
       "Invalid private index locator in ICO credential"},
      {"{\"privateIndex\":{" + std::string(members).replace(members.find("/store"), 6, "/stor%") + "}}",
       "Invalid private index locator in ICO credential"},
  };
  for (const auto& c : cases) {
    const Failure failure = loadFailure(credential_with(c.document));
    EXPECT_EQ(failure.message, c.message) << c.document;
    EXPECT_EQ(failure.kind, FailureKind::InvalidData) << c.document;
  }
  EXPECT_EQ(loadFailure(Bytes(4223, 0)).message, "Invalid external ICO credential length");
  EXPECT_EQ(loadFailure(Bytes(4224, 0)).message, "No valid VKR footer");
}

}  // namespace
}  // namespace vesmara
