#include "index/index_document.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "index/paths.h"

namespace vesmara {
namespace {

const std::string kDigest(64, 'a');
const std::string kRoot(kSiteNamespaceRoot);

// A small description of an index document, rendered to JSON text. Tests
// start from a valid site and change one thing.
struct PartDraft {
  std::string url = "/c/one.bin";
  std::string extra;  // raw members appended to the part object
  std::uint64_t length = 10;
};

struct ResourceDraft {
  std::string path = kRoot + "app/index.html";
  std::string mime = "text/html";
  std::string length = "10";
  std::string extra;
  std::vector<PartDraft> parts = {PartDraft{}};
};

struct IndexDraft {
  std::string launch = kRoot + "boot.html";
  std::string entry = kRoot + "app/index.html";
  std::string web_app_extra;  // raw members for encoding, encryption, audioCarriers
  std::vector<ResourceDraft> resources = {ResourceDraft{}};
};

std::string render(const IndexDraft& draft) {
  std::string text = "{\"webApp\":{\"launch\":\"" + draft.launch + "\",\"entry\":\"" + draft.entry + "\"" +
                     draft.web_app_extra + ",\"resources\":[";
  for (std::size_t r = 0; r < draft.resources.size(); ++r) {
    const ResourceDraft& resource = draft.resources[r];
    text += (r ? "," : "") + std::string("{\"path\":\"") + resource.path + "\",\"mime\":\"" + resource.mime +
            "\",\"length\":" + resource.length + ",\"sha256\":\"" + kDigest + "\"" + resource.extra + ",\"parts\":[";
    for (std::size_t p = 0; p < resource.parts.size(); ++p) {
      const PartDraft& part = resource.parts[p];
      text += (p ? "," : "") + std::string("{\"url\":\"") + part.url +
              "\",\"offset\":0,\"length\":" + std::to_string(part.length) + ",\"sha256\":\"" + kDigest + "\"" +
              part.extra + "}";
    }
    text += "]}";
  }
  return text + "]}}";
}

std::string parseMessage(const IndexDraft& draft) {
  SiteIndex index;
  Failure failure;
  const bool ok = parseIndexDocument(render(draft), index, failure);
  EXPECT_EQ(ok, failure.message.empty());
  return failure.message;
}

const std::string kEncryption = ",\"encryption\":{\"algorithm\":\"AES-256-GCM\",\"keyId\":\"k1\"}";

std::string nonce(int n) {
  std::string hex = std::to_string(n);
  return ",\"nonce\":\"" + std::string(24 - hex.size(), '0') + hex + "\"";
}

PartDraft membersPart(int nonce_number, std::uint64_t plain = 10) {
  PartDraft part;
  part.length = plain + 16;
  part.extra = nonce(nonce_number) + ",\"plainLength\":" + std::to_string(plain);
  return part;
}

std::string audioCarrier(const std::string& key, const std::string& body) {
  return ",\"audioCarriers\":{\"" + key + "\":" + body + "}";
}

const std::string kCarrierBody = "{\"format\":\"vkr.audio-carrier.v1\",\"length\":3,\"sha256\":\"" + kDigest +
                                 "\",\"packets\":[{\"index\":0,\"length\":3,\"sha256\":\"" + kDigest +
                                 "\"}],\"locations\":[{\"packet\":0,\"startSeconds\":0,\"durationSeconds\":0.5},"
                                 "{\"packet\":0,\"copy\":1,\"startSeconds\":1.5,\"durationSeconds\":0.5},"
                                 "{\"packet\":0,\"copy\":2,\"startSeconds\":3e0,\"durationSeconds\":0.5}]}";

TEST(IndexDocument, ValidSiteParsesIntoTheIndex) {
  IndexDraft draft;
  draft.web_app_extra = ",\"encoding\":{\"algorithm\":\"AES-256-CTR\",\"key\":\"" + kDigest + "\"}" + kEncryption +
                        audioCarrier("/audio/a.wav", kCarrierBody);
  draft.resources[0].extra = ",\"access\":\"public\"";
  ResourceDraft members;
  members.path = kRoot + "app/secret.bin";
  members.mime = "application/octet-stream";
  members.length = "30";
  members.parts = {membersPart(1, 20), membersPart(2, 7), membersPart(3, 3)};
  members.parts[2].url = "/audio/a.wav";
  members.parts[2].extra += ",\"codec\":\"wav-4fsk1\"";
  members.extra = ",\"delivery\":\"download\"";
  draft.resources.push_back(members);

  SiteIndex index;
  Failure failure;
  ASSERT_TRUE(parseIndexDocument(render(draft), index, failure)) << failure.message;
  EXPECT_EQ(index.entry, kRoot + "app/index.html");
  EXPECT_EQ(index.encoding_key, kDigest);
  EXPECT_EQ(index.member_key_id, "k1");
  ASSERT_EQ(index.resources.size(), 2u);
  const Resource& secret = index.resources[1];
  EXPECT_EQ(effectiveAccess(index, index.resources[0]), "public");
  EXPECT_EQ(effectiveAccess(index, secret), "members");
  EXPECT_EQ(effectiveDelivery(index.resources[0]), "app");
  EXPECT_EQ(effectiveDelivery(secret), "download");
  ASSERT_EQ(secret.parts.size(), 3u);
  EXPECT_EQ(secret.parts[0].plain_length, 20u);
  EXPECT_EQ(secret.parts[0].length, 36u);
  EXPECT_EQ(secret.parts[1].nonce, "000000000000000000000002");
  ASSERT_EQ(index.audio_carriers.size(), 1u);
  const AudioCarrier& carrier = index.audio_carriers.at("/audio/a.wav");
  ASSERT_EQ(carrier.locations.size(), 3u);
  EXPECT_EQ(carrier.locations[1].copy, 1u);
  EXPECT_EQ(carrier.locations[2].start_seconds, 3.0);
  EXPECT_EQ(findResource(index, kRoot + "app/secret.bin"), &secret);
  EXPECT_EQ(findResource(index, kRoot + "app/Secret.bin"), nullptr);
  EXPECT_EQ(findResource(index, kRoot + "app/secret.bi"), nullptr);
}

TEST(IndexDocument, EachRuleFailsWithItsMessage) {
  using Change = std::function<void(IndexDraft&)>;
  const auto second = [](IndexDraft& s, const std::string& path) {
    ResourceDraft r;
    r.path = path;
    r.mime = "text/css";
    s.resources.push_back(r);
  };
  const struct {
    const char* name;
    Change change;
    const char* message;
  } cases[] = {
      {"launch elsewhere", [](IndexDraft& s) { s.launch = kRoot + "boot.htm"; }, "Invalid webApp entry"},
      {"entry not an app path", [](IndexDraft& s) { s.entry = kRoot + "index.html"; }, "Invalid webApp entry"},
      {"encoding algorithm",
       [](IndexDraft& s) {
         s.web_app_extra = ",\"encoding\":{\"algorithm\":\"AES-256-GCM\",\"key\":\"" + kDigest + "\"}";
       },
       "Invalid website encoding key"},
      {"encoding upper-case key",
       [](IndexDraft& s) {
         s.web_app_extra = ",\"encoding\":{\"algorithm\":\"AES-256-CTR\",\"key\":\"" + std::string(64, 'A') + "\"}";
       },
       "Invalid website encoding key"},
      {"encryption key id empty",
       [](IndexDraft& s) { s.web_app_extra = ",\"encryption\":{\"algorithm\":\"AES-256-GCM\",\"keyId\":\"\"}"; },
       "Invalid member key ID"},
      {"encryption key id 65 bytes",
       [](IndexDraft& s) {
         s.web_app_extra = ",\"encryption\":{\"algorithm\":\"AES-256-GCM\",\"keyId\":\"" + std::string(65, 'k') + "\"}";
       },
       "Invalid member key ID"},
      {"audio map empty", [](IndexDraft& s) { s.web_app_extra = ",\"audioCarriers\":{}"; },
       "Invalid audio carrier map"},
      {"audio key upper-case suffix", [](IndexDraft& s) { s.web_app_extra = audioCarrier("/a.WAV", kCarrierBody); },
       "Invalid audio carrier metadata"},
      {"audio key inside the root",
       [](IndexDraft& s) { s.web_app_extra = audioCarrier(kRoot + "a.wav", kCarrierBody); },
       "Invalid audio carrier metadata"},
      {"audio packets missing",
       [](IndexDraft& s) {
         std::string body = kCarrierBody;
         body.replace(body.find("\"packets\""), 9, "\"packetz\"");
         s.web_app_extra = audioCarrier("/a.wav", body);
       },
       "Invalid audio packet catalogue"},
      {"audio packet index",
       [](IndexDraft& s) {
         std::string body = kCarrierBody;
         body.replace(body.find("\"index\":0"), 9, "\"index\":1");
         s.web_app_extra = audioCarrier("/a.wav", body);
       },
       "Invalid audio packet"},
      {"audio length mismatch",
       [](IndexDraft& s) {
         std::string body = kCarrierBody;
         body.replace(body.find("\"length\":3"), 10, "\"length\":4");
         s.web_app_extra = audioCarrier("/a.wav", body);
       },
       "Audio packet length mismatch"},
      {"audio zero duration",
       [](IndexDraft& s) {
         std::string body = kCarrierBody;
         body.replace(body.find("\"durationSeconds\":0.5"), 21, "\"durationSeconds\":0");
         s.web_app_extra = audioCarrier("/a.wav", body);
       },
       "Invalid audio packet location"},
      {"audio copy 3",
       [](IndexDraft& s) {
         std::string body = kCarrierBody;
         body.replace(body.find("\"copy\":2"), 8, "\"copy\":3");
         s.web_app_extra = audioCarrier("/a.wav", body);
       },
       "Invalid audio packet location"},
      {"no resources", [](IndexDraft& s) { s.resources.clear(); }, "Invalid resource count"},
      {"duplicate path", [&](IndexDraft& s) { second(s, kRoot + "app/index.html"); }, "Invalid webApp resource"},
      {"unsorted paths", [&](IndexDraft& s) { second(s, kRoot + "app/a.css"); }, "Invalid webApp resource"},
      {"upper-case mime", [](IndexDraft& s) { s.resources[0].mime = "text/HTML"; }, "Invalid webApp resource"},
      {"mime without slash", [](IndexDraft& s) { s.resources[0].mime = "html"; }, "Invalid webApp resource"},
      {"length written 1e1", [](IndexDraft& s) { s.resources[0].length = "1e1"; }, "Invalid webApp resource"},
      {"length above 1 GiB", [](IndexDraft& s) { s.resources[0].length = "1073741825"; }, "Invalid webApp resource"},
      {"delivery other", [](IndexDraft& s) { s.resources[0].extra = ",\"delivery\":\"app\""; },
       "Invalid webApp resource"},
      {"public without encryption", [](IndexDraft& s) { s.resources[0].extra = ",\"access\":\"public\""; },
       "Invalid resource access"},
      {"no parts", [](IndexDraft& s) { s.resources[0].parts.clear(); }, "Invalid resource part count"},
      {"part url is the favicon", [](IndexDraft& s) { s.resources[0].parts[0].url = "/favicon.ico"; },
       "Invalid resource part"},
      {"public part over 4 MiB",
       [](IndexDraft& s) {
         s.resources[0].length = "4194305";
         s.resources[0].parts[0].length = 4194305;
       },
       "Invalid resource part"},
      {"unknown codec", [](IndexDraft& s) { s.resources[0].parts[0].extra = ",\"codec\":\"gif-lsb\""; },
       "Unsupported media codec"},
      {"audio part without carrier", [](IndexDraft& s) { s.resources[0].parts[0].extra = ",\"codec\":\"wav-4fsk1\""; },
       "Missing audio carrier metadata"},
      {"parts overflow",
       [](IndexDraft& s) {
         s.resources[0].parts = {PartDraft{}, PartDraft{}};
       },
       "Resource length overflow"},
      {"parts short", [](IndexDraft& s) { s.resources[0].length = "11"; }, "Resource length mismatch"},
      {"entry absent", [](IndexDraft& s) { s.entry = kRoot + "app/other.html"; }, "WebApp entry is not HTML"},
      {"entry text/plain", [](IndexDraft& s) { s.resources[0].mime = "text/plain"; }, "WebApp entry is not HTML"},
      {"entry for download", [](IndexDraft& s) { s.resources[0].extra = ",\"delivery\":\"download\""; },
       "WebApp entry is not HTML"},
      {"entry text/htmlx", [](IndexDraft& s) { s.resources[0].mime = "text/htmlx"; }, ""},
      {"entry with parameters", [](IndexDraft& s) { s.resources[0].mime = "text/html; charset=utf-8"; }, ""},
  };
  for (const auto& c : cases) {
    IndexDraft draft;
    c.change(draft);
    EXPECT_EQ(parseMessage(draft), c.message) << c.name;
  }
}

TEST(IndexDocument, MembersResources) {
  const auto members_site = [] {
    IndexDraft draft;
    draft.web_app_extra = kEncryption;
    draft.resources[0].parts = {membersPart(1)};
    return draft;
  };
  {
    // Without "access" a resource of a keyed site is a members resource.
    EXPECT_EQ(parseMessage(members_site()), "");
  }
  {
    IndexDraft draft = members_site();
    draft.resources[0].extra = ",\"access\":\"public\"";
    EXPECT_EQ(parseMessage(draft), "Resource length overflow");  // a public part keeps its tag bytes
    draft.resources[0].parts = {PartDraft{}};
    EXPECT_EQ(parseMessage(draft), "Index has member key but no protected resource");
  }
  {
    IndexDraft draft = members_site();
    draft.resources[0].extra = ",\"access\":\"Members\"";
    EXPECT_EQ(parseMessage(draft), "Invalid resource access");
  }
  {
    IndexDraft draft = members_site();
    draft.resources[0].length = "4194304";
    draft.resources[0].parts = {membersPart(1, 4194304)};
    EXPECT_EQ(parseMessage(draft), "");
    draft.resources[0].length = "4194305";
    draft.resources[0].parts = {membersPart(1, 4194305)};
    EXPECT_EQ(parseMessage(draft), "Invalid resource part");
  }
  const struct {
    const char* name;
    std::string extra;
    std::uint64_t length;
  } protected_cases[] = {
      {"no nonce", ",\"plainLength\":10", 26},
      {"short nonce", ",\"nonce\":\"00\",\"plainLength\":10", 26},
      {"upper-case nonce", ",\"nonce\":\"" + std::string(24, 'A') + "\",\"plainLength\":10", 26},
      {"no plain length", nonce(1), 26},
      {"length not plain plus tag", nonce(1) + ",\"plainLength\":10", 25},
      {"plain length 0", nonce(1) + ",\"plainLength\":0", 16},
  };
  for (const auto& c : protected_cases) {
    IndexDraft draft = members_site();
    draft.resources[0].parts[0].extra = c.extra;
    draft.resources[0].parts[0].length = c.length;
    EXPECT_EQ(parseMessage(draft), "Invalid protected part") << c.name;
  }
  {
    // One set of nonces spans the whole index.
    IndexDraft draft = members_site();
    ResourceDraft other;
    other.path = kRoot + "app/z.bin";
    other.mime = "application/octet-stream";
    other.parts = {membersPart(1)};
    draft.resources.push_back(other);
    EXPECT_EQ(parseMessage(draft), "Invalid protected part");
    draft.resources[1].parts = {membersPart(2)};
    EXPECT_EQ(parseMessage(draft), "");
  }
}

TEST(IndexDocument, ReaderFailuresPassThroughAndOutputIsUntouched) {
  SiteIndex index;
  index.entry = "kept";
  Failure failure;
  EXPECT_FALSE(parseIndexDocument("{\"webApp\":", index, failure));
  EXPECT_EQ(failure.message, "Incomplete JSON value");
  EXPECT_FALSE(parseIndexDocument("[]", index, failure));
  EXPECT_EQ(failure.message, "Missing webApp index");
  EXPECT_FALSE(parseIndexDocument("{\"webApp\":[]}", index, failure));
  EXPECT_EQ(failure.message, "Missing webApp index");
  IndexDraft draft;
  draft.resources[0].parts = {PartDraft{}, PartDraft{}};
  EXPECT_FALSE(parseIndexDocument(render(draft), index, failure));
  EXPECT_EQ(index.entry, "kept");
  EXPECT_TRUE(index.resources.empty());
}

}  // namespace
}  // namespace vesmara
