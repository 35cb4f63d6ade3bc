#include "index/hosted_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/hex.h"
#include "hosts/platform.h"
#include "index/memory_host.h"
#include "index/paths.h"
#include "publish/carrier_writer.h"
#include "support/fake_http_host.h"
#include "support/site_fixture.h"

namespace vesmara {
namespace {

using Bytes = std::vector<std::uint8_t>;

void putU16(Bytes& bytes, std::size_t at, std::uint16_t value) {
  for (int i = 0; i < 2; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void putU64(Bytes& bytes, std::size_t at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void putBytes(Bytes& bytes, std::size_t at, std::span<const std::uint8_t> value) {
  std::copy(value.begin(), value.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

class HostedIndexTest : public testing::Test {
 protected:
  Sha256Digest sha(std::span<const std::uint8_t> bytes) {
    Sha256Digest digest{};
    EXPECT_TRUE(computeSha256(*crypto_, bytes, digest));
    return digest;
  }

  // Loads `favicon` served from memory.
  bool load(const Bytes& favicon, LoadedIndex& holder, Failure& failure) {
    MemoryHost host(SecureBytes(favicon.begin(), favicon.end()), parent_);
    return loadHostedIndex(host, *crypto_, holder, failure);
  }

  Failure loadFailure(const Bytes& favicon) {
    LoadedIndex holder;
    Failure failure;
    EXPECT_FALSE(load(favicon, holder, failure));
    return failure;
  }

  // Rebuilds a favicon around `container` after a test changed it, with
  // fresh manifest and bootstrap digests in the header when asked.
  Bytes reseal(Bytes container, bool fix_header_digests, std::uint16_t version = 1) {
    if (fix_header_digests) {
      std::uint64_t manifest_length = 0;
      std::uint64_t bootstrap_offset = 0;
      std::uint64_t bootstrap_length = 0;
      std::memcpy(&manifest_length, &container[32], 8);
      std::memcpy(&bootstrap_offset, &container[40], 8);
      std::memcpy(&bootstrap_length, &container[48], 8);
      putBytes(container, 56, sha(std::span(container).subspan(4096, manifest_length)));
      if (bootstrap_offset + bootstrap_length <= container.size()) {
        putBytes(container, 88, sha(std::span(container).subspan(bootstrap_offset, bootstrap_length)));
      }
    }
    Bytes favicon;
    Failure failure;
    EXPECT_TRUE(publish::buildFavicon(*crypto_, icon_, container, version, favicon, failure)) << failure.message;
    return favicon;
  }

  std::unique_ptr<CryptoHost> crypto_ = defaultPlatform().makeCryptoHost();
  test::ScriptedHttpHost parent_;  // never asked for bytes; cancelled when a test says so
  Bytes icon_ = publish::defaultIcon();
  SiteIndex index_ = test::makeSiteIndex(3);
};

TEST_F(HostedIndexTest, HandBuiltFaviconFromTheByteLayout) {
  // Built byte by byte, without the publisher's writers, so that a misreading
  // shared by the writers and the reader cannot go unnoticed.
  const std::string root(kSiteNamespaceRoot);
  const std::string document =
      "{\"webApp\":{\"launch\":\"" + root + "boot.html\",\"entry\":\"" + root +
      "app/index.html\",\"resources\":[{\"path\":\"" + root +
      "app/index.html\",\"mime\":\"text/html\",\"length\":5,\"sha256\":\"" + std::string(64, '1') +
      "\",\"parts\":[{\"url\":\"/p.bin\",\"offset\":0,\"length\":5,\"sha256\":\"" + std::string(64, '2') + "\"}]}]}}";
  const std::string bootstrap = "boot";
  const auto text = [](const std::string& s) {
    return std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  std::string manifest;
  for (int pass = 0; pass < 2; ++pass) {
    const std::uint64_t bootstrap_at = 4096 + manifest.size();
    manifest =
        "{\"format\":\"vkr.sections.v1\",\"sections\":[{\"id\":\"bootstrap\",\"type\":\"vkr.document.v1\",\"sha256\":"
        "\"" +
        encodeLowerHex(sha(text(bootstrap))) + "\",\"offset\":" + std::to_string(bootstrap_at) +
        ",\"length\":4},{\"id\":\"document\",\"type\":\"vkr.document.v1\",\"sha256\":\"" +
        encodeLowerHex(sha(text(document))) + "\",\"offset\":" + std::to_string(bootstrap_at + 4) +
        ",\"length\":" + std::to_string(document.size()) + "}]}";
  }
  Bytes payload(4096, 0);
  std::memcpy(payload.data(), "VKR1DOC\0", 8);
  putU16(payload, 8, 1);
  putU16(payload, 10, 4096);
  const std::uint64_t total = 4096 + manifest.size() + bootstrap.size() + document.size();
  putU64(payload, 16, total);
  putU64(payload, 24, 4096);
  putU64(payload, 32, manifest.size());
  putU64(payload, 40, 4096 + manifest.size());
  putU64(payload, 48, bootstrap.size());
  putBytes(payload, 56, sha(text(manifest)));
  putBytes(payload, 88, sha(text(bootstrap)));
  payload.insert(payload.end(), manifest.begin(), manifest.end());
  payload.insert(payload.end(), bootstrap.begin(), bootstrap.end());
  payload.insert(payload.end(), document.begin(), document.end());
  ASSERT_EQ(payload.size(), total);

  const Bytes icon = {0, 0, 1, 0, 'i', 'c', 'o'};
  Bytes favicon = icon;
  favicon.insert(favicon.end(), payload.begin(), payload.end());
  Bytes footer(128, 0);
  std::memcpy(footer.data(), "VKR1TAIL", 8);
  putU16(footer, 8, 2);
  putU16(footer, 10, 128);
  putU64(footer, 16, icon.size());
  putU64(footer, 24, icon.size());
  putU64(footer, 32, payload.size());
  putBytes(footer, 40, sha(payload));
  const Sha256Digest prefix = sha(std::span(payload).first(4096 + manifest.size() + bootstrap.size()));
  putBytes(footer, 104, std::span(prefix).first(24));
  favicon.insert(favicon.end(), footer.begin(), footer.end());

  LoadedIndex holder;
  Failure failure;
  ASSERT_TRUE(load(favicon, holder, failure)) << failure.message;
  EXPECT_EQ(failure.kind, FailureKind::None);
  EXPECT_EQ(holder.digest, encodeLowerHex(sha(payload)));
  EXPECT_EQ(holder.index.entry, root + "app/index.html");
  ASSERT_EQ(holder.index.resources.size(), 1u);
  EXPECT_EQ(holder.index.resources[0].parts[0].url, "/p.bin");

  // Any byte of the prefix digest matters in version 2.
  favicon[favicon.size() - 1] ^= 1;
  EXPECT_EQ(loadFailure(favicon).message, "Invalid VKR prefix digest");
}

TEST_F(HostedIndexTest, WritersRoundTripBothFooterVersions) {
  for (const std::uint16_t version : {1, 2}) {
    const test::BuiltSite site = test::buildSite(*crypto_, index_, version);
    LoadedIndex holder;
    Failure failure;
    ASSERT_TRUE(load(site.favicon, holder, failure)) << failure.message;
    EXPECT_EQ(holder.digest, test::sha256Hex(*crypto_, site.container));
    ASSERT_EQ(holder.index.resources.size(), index_.resources.size());
    for (std::size_t i = 0; i < index_.resources.size(); ++i) {
      EXPECT_EQ(holder.index.resources[i].path, index_.resources[i].path);
      EXPECT_EQ(holder.index.resources[i].parts[0].offset, index_.resources[i].parts[0].offset);
    }
  }
}

TEST_F(HostedIndexTest, CorruptionsEndWithTheirMessageAndKind) {
  const test::BuiltSite site = test::buildSite(*crypto_, index_, 2);
  const std::size_t footer_at = site.favicon.size() - 128;
  const std::size_t payload_at = icon_.size();
  using Change = std::function<Bytes()>;
  const auto favicon_with = [&](std::function<void(Bytes&)> change) {
    return [=]() {
      Bytes favicon = site.favicon;
      change(favicon);
      return favicon;
    };
  };
  const auto container_with = [&](std::function<void(Bytes&)> change, bool fix_digests = true, int version = 1) {
    return [=, this]() {
      Bytes container = site.container;
      change(container);
      return reseal(container, fix_digests, static_cast<std::uint16_t>(version));
    };
  };
  const auto manifest_with = [&](const std::string& from, const std::string& to) {
    return container_with([=](Bytes& c) {
      std::string all(c.begin(), c.end());
      const std::size_t at = all.find(from, 4096);
      ASSERT_NE(at, std::string::npos) << from;
      ASSERT_EQ(from.size(), to.size());
      std::copy(to.begin(), to.end(), c.begin() + static_cast<std::ptrdiff_t>(at));
    });
  };
  const struct {
    const char* name;
    Change favicon;
    const char* message;
    FailureKind kind;
  } cases[] = {
      {"footer magic", favicon_with([&](Bytes& f) { f[footer_at] = 'X'; }), "No valid VKR footer",
       FailureKind::InvalidData},
      {"footer reserved", favicon_with([&](Bytes& f) { f[footer_at + 13] = 1; }), "No valid VKR footer",
       FailureKind::InvalidData},
      {"footer version 3", favicon_with([&](Bytes& f) { f[footer_at + 8] = 3; }), "Unsupported VKR footer",
       FailureKind::InvalidData},
      {"footer length", favicon_with([&](Bytes& f) { f[footer_at + 10] = 127; }), "Unsupported VKR footer",
       FailureKind::InvalidData},
      {"version 1 with prefix bytes", favicon_with([&](Bytes& f) {
         f[footer_at + 8] = 1;
         f[footer_at + 110] ^= 0xFF;
       }),
       "Unsupported VKR footer", FailureKind::InvalidData},
      {"icon length differs", favicon_with([&](Bytes& f) { f[footer_at + 16] += 1; }), "Invalid VKR footer layout",
       FailureKind::InvalidData},
      {"payload too short", favicon_with([&](Bytes& f) { putU64(f, footer_at + 32, 4095); }),
       "Invalid VKR footer layout", FailureKind::InvalidData},
      {"bytes after payload",
       favicon_with([&](Bytes& f) { f.insert(f.begin() + static_cast<std::ptrdiff_t>(footer_at), 0); }),
       "Invalid VKR footer layout", FailureKind::InvalidData},
      {"payload digest", favicon_with([&](Bytes& f) { f[footer_at + 40] ^= 1; }), "VKR payload digest mismatch",
       FailureKind::Integrity},
      {"payload byte", favicon_with([&](Bytes& f) { f[payload_at + 5000] ^= 1; }), "VKR payload digest mismatch",
       FailureKind::Integrity},
      {"container magic", container_with([](Bytes& c) { c[6] = 'X'; }), "Invalid VKR header", FailureKind::InvalidData},
      {"container version", container_with([](Bytes& c) { c[8] = 2; }), "Invalid VKR header", FailureKind::InvalidData},
      {"header reserved tail", container_with([](Bytes& c) { c[4095] = 1; }), "Invalid VKR header",
       FailureKind::InvalidData},
      {"container length", container_with([](Bytes& c) { c[16] += 1; }), "Invalid VKR header bounds",
       FailureKind::InvalidData},
      {"manifest offset", container_with([](Bytes& c) { c[24] += 1; }), "Invalid VKR header bounds",
       FailureKind::InvalidData},
      {"manifest digest", container_with([](Bytes& c) { c[56] ^= 1; }, false), "VKR manifest digest mismatch",
       FailureKind::Integrity},
      {"manifest format", manifest_with("vkr.sections.v1", "vkr.sections.v2"), "Invalid VKR section manifest",
       FailureKind::InvalidData},
      {"manifest not JSON", manifest_with("{\"format\"", "[\"format\""), "Expected array comma",
       FailureKind::InvalidData},
      {"section order", manifest_with("\"bootstrap\"", "\"bootstra_\""), "Invalid VKR section layout",
       FailureKind::InvalidData},
      {"section type", manifest_with("vkr.document.v1", "vkr.document.v2"), "Invalid VKR section layout",
       FailureKind::InvalidData},
      {"section hash upper case", container_with([](Bytes& c) {
         std::string all(c.begin(), c.end());
         const std::size_t at = all.find("\"sha256\":\"", 4096) + 10;
         for (std::size_t i = at; i < at + 64; ++i) c[i] = static_cast<std::uint8_t>(std::toupper(c[i]));
         if (all.substr(at, 64) == std::string(c.begin() + at, c.begin() + at + 64)) c[at] = 'A';
       }),
       "Invalid VKR section hash", FailureKind::InvalidData},
      {"bootstrap bytes",
       container_with(
           [&](Bytes& c) {
             std::uint64_t bootstrap_offset = 0;
             std::memcpy(&bootstrap_offset, &c[40], 8);
             c[bootstrap_offset] ^= 1;
           },
           false),
       "VKR section digest mismatch", FailureKind::Integrity},
      {"bootstrap header digest", container_with([](Bytes& c) { c[88] ^= 1; }, false), "Invalid VKR bootstrap",
       FailureKind::Integrity},
      {"bootstrap header length", container_with([](Bytes& c) { c[48] += 1; }), "Invalid VKR bootstrap",
       FailureKind::Integrity},
      {"document bytes", container_with([&](Bytes& c) { c[c.size() - 2] ^= 1; }), "VKR section digest mismatch",
       FailureKind::Integrity},
      {"bytes after the document", container_with([](Bytes& c) {
         c.push_back(' ');
         putU64(c, 16, c.size());
       }),
       "Invalid VKR payload layout", FailureKind::InvalidData},
      {"prefix digest", favicon_with([&](Bytes& f) { f[footer_at + 104] ^= 1; }), "Invalid VKR prefix digest",
       FailureKind::Integrity},
  };
  for (const auto& c : cases) {
    const Failure failure = loadFailure(c.favicon());
    EXPECT_EQ(failure.message, c.message) << c.name;
    EXPECT_EQ(failure.kind, c.kind) << c.name;
  }
}

TEST_F(HostedIndexTest, DocumentFailuresAreInvalidDataAndLeaveTheHolderAlone) {
  SiteIndex broken = index_;
  const test::BuiltSite site = test::buildSite(*crypto_, broken, 1);
  Bytes container = site.container;
  // Replace the document by one whose entry is not HTML, with every digest right.
  std::string document = site.document;
  const std::size_t at = document.find("text/html");
  document.replace(at, 9, "text/plai");
  Bytes rebuilt;
  Failure failure;
  ASSERT_TRUE(publish::buildContainer(*crypto_, publish::defaultBootstrap(), document, rebuilt, failure));
  LoadedIndex holder;
  holder.digest = "kept";
  EXPECT_FALSE(load(reseal(rebuilt, false), holder, failure));
  EXPECT_EQ(failure.message, "WebApp entry is not HTML");
  EXPECT_EQ(failure.kind, FailureKind::InvalidData);
  EXPECT_EQ(holder.digest, "kept");
}

TEST_F(HostedIndexTest, PayloadOfExactlyTheHeaderCannotHoldAManifest) {
  Bytes container(4096, 0);
  std::memcpy(container.data(), "VKR1DOC\0", 8);
  putU16(container, 8, 1);
  putU16(container, 10, 4096);
  putU64(container, 16, 4096);
  putU64(container, 24, 4096);
  putU64(container, 32, 1);
  EXPECT_EQ(loadFailure(reseal(container, false)).message, "Invalid VKR header bounds");
}

TEST_F(HostedIndexTest, CancelledBetweenTheTwoRequests) {
  const test::BuiltSite site = test::buildSite(*crypto_, index_, 1);
  parent_.cancel();
  const Failure failure = loadFailure(site.favicon);
  EXPECT_EQ(failure.message, "Index load cancelled");
  EXPECT_EQ(failure.kind, FailureKind::Cancelled);
}

TEST_F(HostedIndexTest, RequestFaultsEndWithTheirMessageAndKind) {
  const test::BuiltSite site = test::buildSite(*crypto_, index_, 1);
  const Bytes& favicon = site.favicon;
  const std::uint64_t payload_first = icon_.size();
  const std::uint64_t payload_last = favicon.size() - 129;
  const auto whole = [&](std::size_t length) {
    return [&favicon, length](HttpResponse& r) {
      r.status = 200;
      r.contentRange.clear();
      r.body.assign(favicon.begin(), favicon.begin() + static_cast<std::ptrdiff_t>(length));
    };
  };
  const auto range = [](std::string value) { return [value](HttpResponse& r) { r.contentRange = value; }; };
  using Fault = test::FaultyHttpHost::Fault;
  const struct {
    const char* name;
    std::size_t nth;
    Fault fault;
    const char* message;
    FailureKind kind;
  } cases[] = {
      {"footer request fails",
       1,
       {.fail = "HTTP send failed or cancelled"},
       "HTTP send failed or cancelled",
       FailureKind::Transport},
      {"cancelled during the payload request",
       2,
       {.before = [this] { parent_.cancel(); }, .fail = "HTTP read cancelled"},
       "HTTP read cancelled",
       FailureKind::Cancelled},
      {"footer answered with the whole favicon", 1, {.tamper = whole(favicon.size())}, "", FailureKind::None},
      {"payload answered with the whole favicon", 2, {.tamper = whole(favicon.size())}, "", FailureKind::None},
      {"whole favicon one byte short",
       2,
       {.tamper = whole(favicon.size() - 1)},
       "Incomplete favicon fallback",
       FailureKind::Integrity},
      {"payload range of another length of favicon",
       2,
       {.tamper = range("bytes " + std::to_string(payload_first) + "-" + std::to_string(payload_last) + "/" +
                        std::to_string(favicon.size() + 1))},
       "Invalid VKR payload range",
       FailureKind::Integrity},
      {"payload body one byte short",
       2,
       {.tamper = [](HttpResponse& r) { r.body.pop_back(); }},
       "Invalid VKR payload range",
       FailureKind::Integrity},
      {"payload answer not valid",
       2,
       {.tamper = [](HttpResponse& r) { r.valid = false; }},
       "Favicon changed during index load",
       FailureKind::Integrity},
  };
  for (const auto& c : cases) {
    parent_.resetCancel();
    MemoryHost memory(SecureBytes(favicon.begin(), favicon.end()), parent_);
    test::FaultyHttpHost host(memory, c.nth, c.fault);
    LoadedIndex holder;
    Failure failure;
    EXPECT_EQ(loadHostedIndex(host, *crypto_, holder, failure), c.kind == FailureKind::None) << c.name;
    EXPECT_EQ(failure.message, c.message) << c.name;
    EXPECT_EQ(failure.kind, c.kind) << c.name;
    EXPECT_EQ(host.fetches(), c.nth == 1 && c.kind != FailureKind::None ? 1u : 2u) << c.name;
  }
}

TEST(MemoryHost, ServesOnlyTheFaviconAndLeavesFailuresUntouched) {
  test::ScriptedHttpHost parent;
  parent.cancel();
  MemoryHost host(SecureBytes{'a', 'b', 'c', 'd'}, parent);
  EXPECT_TRUE(host.isCancelled());  // answered by the parent
  HttpResponse response;
  Failure failure;
  failure.message = "untouched";
  ASSERT_TRUE(host.fetchRange("/favicon.ico", 1, 2, 1, response, failure));
  EXPECT_EQ(response.status, 206u);
  EXPECT_EQ(response.contentRange, "bytes 1-2/4");
  EXPECT_EQ(std::string(response.body.begin(), response.body.end()), "bc");
  EXPECT_TRUE(failure.message.empty());
  ASSERT_TRUE(host.fetchSuffix("/favicon.ico", 4, 1, response, failure));
  EXPECT_EQ(response.contentRange, "bytes 0-3/4");

  failure.message = "untouched";
  response.contentRange = "kept";
  EXPECT_FALSE(host.fetchRange("/favicon.ico", 2, 4, 100, response, failure));
  EXPECT_FALSE(host.fetchRange("/favicon.ico", 2, 1, 100, response, failure));
  EXPECT_FALSE(host.fetchRange("/other.ico", 0, 1, 100, response, failure));
  EXPECT_FALSE(host.fetchSuffix("/favicon.ico", 5, 100, response, failure));
  EXPECT_EQ(failure.message, "untouched");
  EXPECT_EQ(failure.kind, FailureKind::Cancelled);  // the parent's flag is set
  EXPECT_EQ(response.contentRange, "kept");
  EXPECT_FALSE(host.fetchWhole("/favicon.ico", 100, response, failure));
  EXPECT_EQ(failure.message, "Whole-carrier fetch is not supported by this host");
}

}  // namespace
}  // namespace vesmara
