#include "retrieval/resource_read.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/hex.h"
#include "hosts/platform.h"
#include "index/paths.h"
#include "publish/site_builder.h"
#include "retrieval/memory_output.h"
#include "retrieval/part_decode.h"
#include "retrieval/part_fetch.h"
#include "retrieval/part_format.h"
#include "support/platform_http_host.h"
#include "support/test_origin.h"

namespace vesmara {
namespace {

using Bytes = std::vector<std::uint8_t>;

SecretKey keyOf(std::uint8_t fill) {
  SecretKey key;
  std::fill(key.mutableBytes().begin(), key.mutableBytes().end(), fill);
  return key;
}

// A decoder for tests: the "payload" of a carrier is the carrier itself,
// except that "fail" carriers fail. Counts its decodes.
class EchoDecoder final : public MediaDecoder {
 public:
  bool decode(std::string_view codec, std::span<const std::uint8_t> carrier, const AudioCarrier*, CryptoHost&,
              std::vector<std::uint8_t>& output, Failure& failure) override {
    ++decodes;
    if (codec != "png-lsb1") {
      return failure.fail(FailureKind::Integrity, "Media codec is not supported by the Windows adapter");
    }
    output.assign(carrier.begin(), carrier.end());
    return true;
  }
  int decodes = 0;
};

class ResourceReadTest : public testing::Test {
 protected:
  // Publishes `sources` on the test origin.
  void publish(const std::vector<publish::SourceFile>& sources, publish::SiteOptions options = {}) {
    options.seed = 7;
    if (!options.member_key) options.member_key = keyOf(0x5A);
    Failure failure;
    ASSERT_TRUE(publish::buildSite(*crypto_, sources, options, site_, failure)) << failure.message;
    for (const auto& [path, bytes] : site_.files) origin_.addFile(path, bytes);
    origin_.clearLog();
  }

  // Reads `name` through the libcurl transport into memory.
  Failure read(const std::string& name, Bytes& out, const SecretKey* key = nullptr, MediaDecoder* decoder = nullptr) {
    std::string message;
    test::PlatformHttpHost transport(origin_.origin(), message);
    const Resource* resource = findResource(site_.index, siteRootPath("app/" + name));
    PrivateMemoryOutput sink(resource ? resource->length : 0);
    ResourceReadResult result;
    Failure failure;
    if (readResource(site_.index, siteRootPath("app/" + name), key, {transport, *crypto_, decoder}, sink, result,
                     failure)) {
      EXPECT_TRUE(sink.committed());
      EXPECT_EQ(result.length, sink.bytes().size());
      out.assign(sink.bytes().begin(), sink.bytes().end());
    } else {
      EXPECT_FALSE(sink.committed());
    }
    return failure;
  }

  std::unique_ptr<CryptoHost> crypto_ = defaultPlatform().makeCryptoHost();
  test::TestOrigin origin_;
  publish::BuiltSite site_;
};

publish::SourceFile file(std::string name, Bytes bytes, bool members = false) {
  return {.name = std::move(name), .mime = "application/octet-stream", .bytes = std::move(bytes), .members = members};
}

publish::SourceFile entry() { return {.name = "index.html", .mime = "text/html", .bytes = Bytes{'<', 'p', '>'}}; }

TEST_F(ResourceReadTest, PublicEncodedAndMembersResourcesReadBack) {
  const Bytes big = test::TestOrigin::makeByteVector(300000, 1);
  const Bytes secret = test::TestOrigin::makeByteVector(70000, 2);
  publish::SiteOptions options;
  options.part_size = 65536;
  options.carrier_count = 3;
  publish({entry(), file("big.bin", big), file("secret.bin", secret, true)}, options);

  Bytes out;
  EXPECT_EQ(read("big.bin", out).message, "");
  EXPECT_EQ(out, big);
  const SecretKey right = keyOf(0x5A);
  EXPECT_EQ(read("secret.bin", out, &right).message, "");
  EXPECT_EQ(out, secret);
  const SecretKey wrong = keyOf(0x5B);
  const Failure failure = read("secret.bin", out, &wrong);
  EXPECT_EQ(failure.message, "Member key or part authentication failed");
  EXPECT_EQ(failure.kind, FailureKind::Authentication);
  EXPECT_EQ(read("secret.bin", out).message, "Member content key required");
  EXPECT_EQ(read("absent.bin", out).kind, FailureKind::NotFound);
}

TEST_F(ResourceReadTest, SmallAdjacentPartsCoalesce) {
  const struct {
    std::size_t parts;
    bool ignore_ranges;
    std::size_t requests;
  } cases[] = {{65, false, 1}, {64, false, 64}, {64, true, 1}, {2000, false, 2}};
  for (const auto& c : cases) {
    origin_.clearBehaviours();
    site_ = {};
    const Bytes bytes = test::TestOrigin::makeByteVector(c.parts * 1000, 3);
    publish::SiteOptions options;
    options.part_size = 1000;
    options.carrier_count = 1;
    options.encode = false;
    publish({entry(), file("many.bin", bytes)}, options);
    if (c.ignore_ranges) origin_.setGlobalBehaviour({.ignoreRanges = true});
    Bytes out;
    EXPECT_EQ(read("many.bin", out).message, "") << c.parts;
    EXPECT_EQ(out, bytes);
    EXPECT_EQ(origin_.requestCount(), c.requests) << c.parts << " parts";
  }
  // 65 parts of 1,000 bytes: one request for bytes 0 to 64,999 (the entry lies before them).
}

// Passes fetches on and records them with the prefetch hints, in order.
class HintRecorder final : public HttpHost {
 public:
  struct Entry {
    bool hint = false;
    std::string path;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t bound = 0;
    bool operator==(const Entry&) const = default;
  };

  explicit HintRecorder(HttpHost& inner) : inner_(inner) {}
  void cancel() override { inner_.cancel(); }
  void resetCancel() override { inner_.resetCancel(); }
  bool fetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound,
                  HttpResponse& response, Failure& failure) override {
    log.push_back({false, std::string(path), first, last, bound});
    return inner_.fetchRange(path, first, last, bound, response, failure);
  }
  bool fetchSuffix(std::string_view path, std::uint64_t length, std::uint64_t bound, HttpResponse& response,
                   Failure& failure) override {
    log.push_back({false, std::string(path), length, 0, bound});
    return inner_.fetchSuffix(path, length, bound, response, failure);
  }
  bool fetchWhole(std::string_view path, std::uint64_t bound, HttpResponse& response, Failure& failure) override {
    log.push_back({false, std::string(path), 0, 0, bound});
    return inner_.fetchWhole(path, bound, response, failure);
  }
  bool isCancelled() const override { return inner_.isCancelled(); }
  void prefetchRange(std::string_view path, std::uint64_t first, std::uint64_t last, std::uint64_t bound) override {
    log.push_back({true, std::string(path), first, last, bound});
  }

  std::vector<Entry> log;

 private:
  HttpHost& inner_;
};

// Right before each fetch the read names the requests that will follow it,
// exactly and in order, and names none when no range request follows.
TEST_F(ResourceReadTest, HintsNameTheRequestsAfterNext) {
  const struct {
    std::size_t parts;
    std::size_t part_size;
    std::size_t carriers;
  } cases[] = {{5, 65536, 3}, {2000, 1000, 1}, {300, 1000, 3}, {65, 1000, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.parts);
    site_ = {};
    const Bytes bytes = test::TestOrigin::makeByteVector(c.parts * c.part_size - 7, 3);
    publish::SiteOptions options;
    options.part_size = c.part_size;
    options.carrier_count = c.carriers;
    publish({entry(), file("hinted.bin", bytes)}, options);
    std::string message;
    test::PlatformHttpHost inner(origin_.origin(), message);
    HintRecorder transport(inner);
    PrivateMemoryOutput sink(bytes.size());
    ResourceReadResult result;
    Failure failure;
    ASSERT_TRUE(readResource(site_.index, siteRootPath("app/hinted.bin"), nullptr, {transport, *crypto_, nullptr}, sink,
                             result, failure))
        << failure.message;
    ASSERT_EQ(Bytes(sink.bytes().begin(), sink.bytes().end()), bytes);
    std::vector<HintRecorder::Entry> fetches;
    for (const auto& entry : transport.log) {
      if (!entry.hint) fetches.push_back(entry);
    }
    // Before each fetch, hints name the next four fetches in order (fewer
    // only at the end); nothing else is hinted.
    std::size_t fetch = 0;
    std::size_t i = 0;
    while (i < transport.log.size()) {
      std::size_t hints = 0;
      for (; transport.log[i].hint; ++i, ++hints) {
        ASSERT_LT(fetch + hints + 1, fetches.size()) << "a hint beyond the last request";
        HintRecorder::Entry hinted = transport.log[i];
        hinted.hint = false;
        EXPECT_EQ(hinted, fetches[fetch + hints + 1]) << "hint " << i;
      }
      EXPECT_EQ(hints, std::min<std::size_t>(4, fetches.size() - fetch - 1)) << "before fetch " << fetch;
      ++fetch;
      ++i;
    }
  }
}

TEST_F(ResourceReadTest, MisbehavingServers) {
  const Bytes bytes = test::TestOrigin::makeByteVector(50000, 4);
  publish::SiteOptions options;
  options.part_size = 20000;
  options.carrier_count = 1;
  publish({entry(), file("a.bin", bytes)}, options);
  const std::string url = site_.index.resources[0].parts[0].url;
  const struct {
    test::TestOrigin::Behaviour behaviour;
    std::string message;
    FailureKind kind;
  } cases[] = {
      {{.ignoreRanges = true}, "", FailureKind::None},
      {{.wrongContentRange = true}, url + ": invalid Content-Range or short part", FailureKind::Integrity},
      {{.starContentRange = true}, url + ": invalid Content-Range or short part", FailureKind::Integrity},
      {{.changeEtag = true}, url + ": ETag changed during download", FailureKind::Integrity},
      {{.changeEtag = true, .etag = std::string("W/\"w\"")}, "", FailureKind::None},
      {{.status = 404}, "", FailureKind::Transport},
      {{.closeMidBody = true}, "", FailureKind::Transport},
  };
  for (const auto& c : cases) {
    origin_.setGlobalBehaviour(c.behaviour);
    Bytes out;
    const Failure failure = read("a.bin", out);
    EXPECT_EQ(failure.kind, c.kind) << failure.message;
    if (!c.message.empty() || c.kind == FailureKind::None) {
      EXPECT_EQ(failure.message, c.message);
    }
    if (c.kind == FailureKind::None) {
      EXPECT_EQ(out, bytes);
    }
  }
}

TEST_F(ResourceReadTest, TamperedCarriersAndIndexes) {
  const Bytes bytes = test::TestOrigin::makeByteVector(40000, 5);
  publish::SiteOptions options;
  options.part_size = 10000;
  options.carrier_count = 2;
  publish({entry(), file("a.bin", bytes)}, options);
  Resource& resource = site_.index.resources[0];
  Bytes out;
  {
    // One byte of a carrier changed: that part's digest fails.
    const std::string url = resource.parts[1].url;
    Bytes carrier = site_.files[url];
    carrier[resource.parts[1].offset + 5] ^= 1;
    origin_.addFile(url, carrier);
    const Failure failure = read("a.bin", out);
    EXPECT_EQ(failure.message, url + ": part digest mismatch");
    EXPECT_EQ(failure.kind, FailureKind::Integrity);
    origin_.addFile(url, site_.files[url]);
  }
  {
    // Two parts listed in the wrong order pass every part check and fail at the end.
    std::swap(resource.parts[1], resource.parts[2]);
    EXPECT_EQ(read("a.bin", out).message, "Complete resource digest mismatch");
    std::swap(resource.parts[1], resource.parts[2]);
  }
  {
    resource.sha256[0] = resource.sha256[0] == 'a' ? 'b' : 'a';
    EXPECT_EQ(read("a.bin", out).message, "Complete resource digest mismatch");
  }
}

TEST_F(ResourceReadTest, MediaParts) {
  const Bytes carrier = test::TestOrigin::makeByteVector(5000, 6);
  origin_.addFile("/m/a.png", carrier);
  SiteIndex& index = site_.index;
  Resource resource;
  resource.path = siteRootPath("app/media.bin");
  resource.mime = "image/png";
  for (std::uint64_t at : {0, 2000, 4000}) {
    ResourcePart part;
    part.url = "/m/a.png";
    part.codec = "png-lsb1";
    part.offset = at;
    part.length = part.plain_length = 1000;
    Sha256Digest digest{};
    computeSha256(*crypto_, std::span<const std::uint8_t>(carrier).subspan(at, 1000), digest);
    part.sha256 = encodeLowerHex(digest);
    resource.parts.push_back(part);
  }
  resource.length = 3000;
  Bytes expected;
  for (std::uint64_t at : {0, 2000, 4000})
    expected.insert(expected.end(), carrier.begin() + at, carrier.begin() + at + 1000);
  Sha256Digest digest{};
  computeSha256(*crypto_, expected, digest);
  resource.sha256 = encodeLowerHex(digest);
  index.resources = {resource};

  Bytes out;
  EXPECT_EQ(read("media.bin", out).message, "/m/a.png: media decoder is not available");
  EchoDecoder decoder;
  origin_.clearLog();
  EXPECT_EQ(read("media.bin", out, nullptr, &decoder).message, "");
  EXPECT_EQ(out, expected);
  EXPECT_EQ(decoder.decodes, 1);  // one fetch and one decode for three parts
  EXPECT_EQ(origin_.requestCount(), 1u);

  index.resources[0].parts[2].offset = 4500;  // past the payload's end
  EXPECT_EQ(read("media.bin", out, nullptr, &decoder).message, "/m/a.png: decoded media part is out of range");
  index.resources[0].parts[2].offset = 4000;
  index.resources[0].parts[0].codec = "frame-luma1";
  EXPECT_EQ(read("media.bin", out, nullptr, &decoder).message, "Media codec is not supported by the Windows adapter");
  origin_.addFile("/m/a.png", std::string());
  index.resources[0].parts[0].codec = "png-lsb1";
  EXPECT_EQ(read("media.bin", out, nullptr, &decoder).message, "/m/a.png: unsafe or oversized media response");
}

TEST(PartDecode, SeedsAndSealingDataUseDecimalIndexes) {
  const std::vector<std::uint8_t> seed = keystreamCounterSeed("/p", 10);
  EXPECT_EQ(std::string(seed.begin(), seed.end()), std::string("VKR1-SITE-CTR\0/p\0"
                                                               "10",
                                                               19));
  Resource resource;
  resource.path = "/p";
  resource.mime = "text/plain";
  const std::vector<std::uint8_t> data = memberSealingData(resource, 0, 42);
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string("VKR1-SEALED\0/p\0text/plain\0"
                                                               "0\0"
                                                               "42",
                                                               30));
}

TEST(PartDecode, MembersFailures) {
  auto crypto = defaultPlatform().makeCryptoHost();
  SiteIndex index;
  index.member_key_id = "k";
  Resource resource;
  resource.path = siteRootPath("app/s.bin");
  resource.mime = "application/octet-stream";
  const SecretKey key = keyOf(1);
  const std::array<std::uint8_t, 12> nonce{1, 2, 3};
  const Bytes plain = {'s', 'e', 'c', 'r', 'e', 't'};
  Bytes sealed;
  ASSERT_TRUE(crypto->aesGcmEncrypt(key.bytes(), nonce, memberSealingData(resource, 0, plain.size()), plain, sealed));
  ResourcePart part;
  part.url = "/c.bin";
  part.nonce = encodeLowerHex(nonce);
  part.length = sealed.size();
  part.plain_length = plain.size();
  Sha256Digest digest{};
  computeSha256(*crypto, sealed, digest);
  part.sha256 = encodeLowerHex(digest);

  const auto decode = [&](const Resource& r, const ResourcePart& p, const SecretKey* k) {
    SecureBytes bytes;
    Failure failure;
    const bool ok = decodePart(index, r, 0, p, k, *crypto, sealed, bytes, failure);
    EXPECT_EQ(ok, failure.message.empty());
    if (ok) {
      EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), plain);
    }
    return failure.message;
  };
  EXPECT_EQ(decode(resource, part, &key), "");
  EXPECT_EQ(decode(resource, part, nullptr), "Member content key required");
  ResourcePart upper = part;
  upper.nonce = std::string(24, 'A');
  EXPECT_EQ(decode(resource, upper, &key), "Invalid member nonce");
  Resource other_mime = resource;
  other_mime.mime = "text/plain";
  EXPECT_EQ(decode(other_mime, part, &key), "Member key or part authentication failed");
  ResourcePart shorter = part;
  shorter.plain_length = plain.size() - 1;  // the sealing data names another length
  EXPECT_EQ(decode(resource, shorter, &key), "Member key or part authentication failed");
  ResourcePart digest_off = part;
  digest_off.sha256[0] = digest_off.sha256[0] == '0' ? '1' : '0';
  EXPECT_EQ(decode(resource, digest_off, &key), "/c.bin: part digest mismatch");
  Resource public_resource = resource;
  public_resource.access = "public";
  EXPECT_EQ(decode(public_resource, part, &key), "Decoded part length mismatch");
}

TEST(PartFetchState, DropsWindowsNoLaterPartCanUse) {
  Resource resource;
  const auto part = [](std::string url, std::uint64_t offset, std::uint64_t length) {
    ResourcePart p;
    p.url = std::move(url);
    p.offset = offset;
    p.length = length;
    return p;
  };
  // /a: two parts, the second inside the first window; /b: one part; /a again far away.
  resource.parts = {part("/a", 0, 10), part("/b", 0, 10), part("/a", 10, 10), part("/a", 100, 10)};
  PartFetchState state(resource);
  state.windows["/a"] = {0, Bytes(20)};
  state.releaseAfter(0);
  EXPECT_TRUE(state.windows.contains("/a"));  // part 2 lies inside it
  state.windows["/b"] = {0, Bytes(10)};
  state.releaseAfter(1);
  EXPECT_FALSE(state.windows.contains("/b"));  // no later part of /b
  state.releaseAfter(2);
  EXPECT_FALSE(state.windows.contains("/a"));  // part 3 lies outside it
  // What stays is one spare buffer for the next fetch, the largest released.
  EXPECT_EQ(state.heldBytes(), 20u);
  EXPECT_EQ(state.takeSpare().size(), 0u);
}

}  // namespace
}  // namespace vesmara
