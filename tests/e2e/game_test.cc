// A game kept up to date from a published site served by nginx, through the
// public interface only, over plain HTTP and over HTTPS.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "hosts/platform.h"
#include "index/paths.h"
#include "publish/game_writer.h"
#include "publish/origin_tree.h"
#include "publish/site_builder.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "support/test_origin.h"
#include "vkr_preview.h"

namespace vesmara {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

publish::GameDescription gameDescription(std::uint64_t revision, std::size_t items = 2) {
  publish::GameDescription game{
      .id = "lantern-keep", .min_version = "1.4.0", .max_version = "1.9.99", .revision = revision};
  game.items.push_back(
      {.id = "base", .kind = "release", .path = "game/base.pak", .bytes = test::TestOrigin::makeByteVector(300000, 1)});
  game.items.push_back({.id = "riddles",
                        .kind = "puzzle",
                        .path = "game/p/riddles.bin",
                        .depends_on = {"base"},
                        .bytes = test::TestOrigin::makeByteVector(5000, 2),
                        .members = true});
  for (std::size_t i = 2; i < items; ++i) {
    game.items.push_back({.id = "extra-" + std::to_string(i),
                          .kind = "event",
                          .path = "game/extra-" + std::to_string(i) + ".bin",
                          .bytes = test::TestOrigin::makeByteVector(100 + i, 3)});
  }
  return game;
}

class GameTest : public testing::TestWithParam<test::Protocol> {
 protected:
  void SetUp() override {
    if (GetParam() == test::Protocol::Https && test::TestTls::get() == nullptr) {
      GTEST_SKIP() << "HTTPS: " << test::TestTls::unavailableReason();
    }
    key_.assign(32, 0x24);
    publishRevision(gameDescription(5), "r5");
    serve("r5");
    server_ = std::make_unique<test::NginxServer>(work_ / "current", GetParam());
    ASSERT_TRUE(server_->started()) << server_->error();
    game_ = create("1.5.0");
  }

  void TearDown() override {
    vkr_preview_game_release(game_);
    server_.reset();
  }

  // Publishes a site holding `game` into work_/name.
  publish::BuiltSite publishRevision(const publish::GameDescription& game, const std::string& name,
                                     bool drop_first_item = false, bool external = false) {
    std::vector<publish::SourceFile> sources = {{.name = "index.html", .mime = "text/html", .bytes = {'o', 'k'}}};
    Failure failure;
    EXPECT_TRUE(publish::addGameToSources(game, sources, failure)) << failure.message;
    if (drop_first_item) sources.erase(sources.begin() + 2);  // the catalogue names an absent resource
    publish::SiteOptions options;
    SecretKey key;
    std::copy(key_.begin(), key_.end(), key.mutableBytes().begin());
    options.member_key = key;
    options.seed = game.revision;
    // Each publication has carriers of its own, and keeps the earlier ones,
    // as a publisher does so that adopted indexes stay readable.
    options.carrier_prefix = "/assets/" + name + "-";
    if (external) options.external_index_path = "/assets/private.dat";
    publish::BuiltSite site;
    EXPECT_TRUE(publish::buildSite(*crypto_, sources, options, site, failure)) << failure.message;
    EXPECT_TRUE(publish::writeOriginTree(site.files, work_ / name, failure)) << failure.message;
    for (const auto& earlier : fs::directory_iterator(work_)) {
      if (earlier.is_symlink() || earlier.path().filename() == "current" || earlier.path().filename() == name ||
          !fs::exists(earlier.path() / "assets"))
        continue;
      for (const auto& entry : fs::directory_iterator(earlier.path() / "assets")) {
        // An explicit check: the Windows C++ library reports skip_existing's skip as an error.
        const fs::path copy = work_ / name / "assets" / entry.path().filename();
        if (!fs::exists(copy)) fs::copy_file(entry.path(), copy);
      }
    }
    return site;
  }

  // Points the served origin at another published tree.
  void serve(const std::string& name) {
#ifdef _WIN32
    // Wine creates no symbolic links: the served tree is a copy.
    fs::remove_all(work_ / "current");
    fs::copy(work_ / name, work_ / "current", fs::copy_options::recursive);
#else
    fs::remove(work_ / "next");
    fs::create_directory_symlink(work_ / name, work_ / "next");
    fs::rename(work_ / "next", work_ / "current");
#endif
  }

  // Over HTTPS the game reaches its origin by name, so that the
  // certificate's DNS name is checked too (the site tests use its address).
  std::string origin() const {
    return GetParam() == test::Protocol::Https ? server_->origin("localhost") : server_->origin();
  }

  vkr_preview_game* create(const std::string& version) {
    const std::string origin = this->origin();
    const std::string id = "lantern-keep";
    vkr_preview_game* game = nullptr;
    EXPECT_EQ(vkr_preview_game_create(origin.data(), origin.size(), id.data(), id.size(), version.data(),
                                      version.size(), &game, message_, sizeof message_),
              VKR_PREVIEW_OK)
        << message_;
    return game;
  }

  vkr_preview_status refresh(std::uint32_t allow_rollback = 0) {
    return vkr_preview_game_refresh_hosted(game_, allow_rollback, message_, sizeof message_);
  }

  std::uint64_t revision() {
    std::uint64_t value = 0;
    EXPECT_EQ(vkr_preview_game_catalogue_revision(game_, &value), VKR_PREVIEW_OK);
    return value;
  }

  vkr_preview_status fetch(const std::string& id, const fs::path& target, bool with_key = false) {
    std::uint64_t written = 0;
    const std::string destination = target.string();
    return vkr_preview_game_fetch_item(game_, id.data(), id.size(), with_key ? key_.data() : nullptr, with_key ? 32 : 0,
                                       destination.data(), destination.size(), &written, message_, sizeof message_);
  }

  Bytes fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::unique_ptr<CryptoHost> crypto_ = defaultPlatform().makeCryptoHost();
  const test::TempDir temp_{"vkr-game"};
  const fs::path work_ = temp_.path();
  Bytes key_;
  std::unique_ptr<test::NginxServer> server_;
  vkr_preview_game* game_ = nullptr;
  char message_[256] = {};
};

TEST_P(GameTest, RefreshListAndFetch) {
  std::uint64_t count = 7;
  EXPECT_EQ(vkr_preview_game_item_count(game_, &count), VKR_PREVIEW_WRONG_STATE);
  EXPECT_EQ(fetch("base", work_ / "early.pak"), VKR_PREVIEW_WRONG_STATE);
  ASSERT_EQ(refresh(), VKR_PREVIEW_OK) << message_;
  EXPECT_EQ(revision(), 5u);
  ASSERT_EQ(vkr_preview_game_item_count(game_, &count), VKR_PREVIEW_OK);
  EXPECT_EQ(count, 2u);
  char text[80];
  std::uint64_t length = 0;
  EXPECT_EQ(vkr_preview_game_item_string(game_, 1, VKR_PREVIEW_ITEM_PATH, text, sizeof text, &length), VKR_PREVIEW_OK);
  EXPECT_STREQ(text, "game/p/riddles.bin");
  EXPECT_EQ(vkr_preview_game_index_digest(game_, text, sizeof text, &length), VKR_PREVIEW_OK);
  EXPECT_EQ(length, 64u);

  ASSERT_EQ(fetch("base", work_ / "base.pak"), VKR_PREVIEW_OK) << message_;
  EXPECT_EQ(fileBytes(work_ / "base.pak"), gameDescription(5).items[0].bytes);
  ASSERT_EQ(fetch("riddles", work_ / "riddles.bin", true), VKR_PREVIEW_OK) << message_;
  EXPECT_EQ(fileBytes(work_ / "riddles.bin"), gameDescription(5).items[1].bytes);
  EXPECT_EQ(fetch("riddles", work_ / "no-key.bin"), VKR_PREVIEW_AUTHENTICATION_FAILED);
  EXPECT_FALSE(fs::exists(work_ / "no-key.bin"));
  EXPECT_EQ(fetch("Base", work_ / "case.pak"), VKR_PREVIEW_NOT_FOUND);
  EXPECT_STREQ(message_, "Game item is absent");
  // The destination is prepared before the item is looked up.
  EXPECT_EQ(fetch("absent", work_ / "base.pak"), VKR_PREVIEW_TARGET_EXISTS);
  EXPECT_EQ(vkr_preview_game_refresh_hosted(game_, 2, message_, sizeof message_), VKR_PREVIEW_INVALID_ARGUMENT);
}

TEST_P(GameTest, RevisionsGoForwardUnlessRollbackIsAllowed) {
  ASSERT_EQ(refresh(), VKR_PREVIEW_OK) << message_;
  publishRevision(gameDescription(6, 3), "r6");
  publishRevision(gameDescription(4, 4), "r4");
  serve("r6");
  ASSERT_EQ(refresh(), VKR_PREVIEW_OK) << message_;
  EXPECT_EQ(revision(), 6u);
  std::uint64_t count = 0;
  vkr_preview_game_item_count(game_, &count);
  EXPECT_EQ(count, 3u);                  // the new item appeared
  EXPECT_EQ(refresh(), VKR_PREVIEW_OK);  // the same revision again is fine

  serve("r4");
  EXPECT_EQ(refresh(), VKR_PREVIEW_ROLLBACK_REFUSED);
  EXPECT_STREQ(message_, "Catalogue revision rolled back; explicit rollback required");
  EXPECT_EQ(revision(), 6u);
  vkr_preview_game_item_count(game_, &count);
  EXPECT_EQ(count, 3u);
  // Items still come from the adopted index, not the fresher one that was refused.
  EXPECT_EQ(fetch("extra-2", work_ / "extra.bin"), VKR_PREVIEW_OK) << message_;
  ASSERT_EQ(refresh(1), VKR_PREVIEW_OK) << message_;
  EXPECT_EQ(revision(), 4u);
}

TEST_P(GameTest, IncompatibleOrIncompleteCataloguesAreNeverAdopted) {
  ASSERT_EQ(refresh(), VKR_PREVIEW_OK) << message_;
  publish::GameDescription other = gameDescription(9);
  other.id = "another-game";
  publishRevision(other, "other");
  publish::GameDescription newer_range = gameDescription(9);
  newer_range.min_version = "2.0.0";
  newer_range.max_version = "2.9.0";
  publishRevision(newer_range, "range");
  publishRevision(gameDescription(9), "missing", /*drop_first_item=*/true);
  for (const char* name : {"other", "range"}) {
    serve(name);
    EXPECT_EQ(refresh(), VKR_PREVIEW_INVALID_DATA) << name;
    EXPECT_STREQ(message_, "Game ID or version is incompatible with catalogue");
  }
  serve("missing");
  EXPECT_EQ(refresh(), VKR_PREVIEW_INVALID_DATA);
  EXPECT_STREQ(message_, "Game catalogue references an absent resource");
  EXPECT_EQ(revision(), 5u);
  EXPECT_EQ(fetch("base", work_ / "still.pak"), VKR_PREVIEW_OK) << message_;

  // A handle whose own version is not three numbers matches no catalogue.
  vkr_preview_game* odd = create("1.5");
  std::swap(odd, game_);
  serve("r5");
  EXPECT_EQ(refresh(), VKR_PREVIEW_INVALID_DATA);
  std::swap(odd, game_);
  vkr_preview_game_release(odd);
}

TEST_P(GameTest, ExternalRefreshWithAKeyFile) {
  const publish::BuiltSite site = publishRevision(gameDescription(7), "external", false, true);
  serve("external");
  EXPECT_EQ(refresh(), VKR_PREVIEW_INTEGRITY_FAILURE);  // no hosted index behind this favicon
  const std::string& key_file = site.key_file;
  ASSERT_EQ(vkr_preview_game_refresh_external(game_, reinterpret_cast<const std::uint8_t*>(key_file.data()),
                                              key_file.size(), 0, message_, sizeof message_),
            VKR_PREVIEW_OK)
      << message_;
  EXPECT_EQ(revision(), 7u);
  EXPECT_EQ(vkr_preview_game_refresh_external(game_, nullptr, 5, 0, message_, sizeof message_),
            VKR_PREVIEW_INVALID_ARGUMENT);
}

INSTANTIATE_TEST_SUITE_P(, GameTest, testing::Values(test::Protocol::Http, test::Protocol::Https),
                         test::ProtocolName());

// A server whose certificate fails verification delivers nothing: every
// call that needs it is a transport failure (12), a refresh adopts nothing,
// a read fills no buffer and a fetch or download leaves no file. The same
// server with a trusted certificate serves again.
class GameCertificateTest : public GameTest {};

TEST_P(GameCertificateTest, ExpiredWrongHostOrUnknownAuthorityDeliversNothing) {
  ASSERT_EQ(refresh(), VKR_PREVIEW_OK) << message_;
  const std::string origin = this->origin();
  vkr_preview_site* site = nullptr;
  ASSERT_EQ(vkr_preview_site_open_hosted(origin.data(), origin.size(), &site, message_, sizeof message_),
            VKR_PREVIEW_OK)
      << message_;
  const std::string path = siteRootPath("app/game/base.pak");
  const fs::path out = work_ / "out";
  const std::string download = (out / "base.pak").string();
  fs::create_directory(out);
  for (const auto certificate : {test::ServerCertificate::Expired, test::ServerCertificate::WrongHost,
                                 test::ServerCertificate::UnknownAuthority}) {
    SCOPED_TRACE(static_cast<int>(certificate));
    ASSERT_TRUE(server_->restart(certificate)) << server_->error();
    vkr_preview_site* fresh = nullptr;
    EXPECT_EQ(vkr_preview_site_open_hosted(origin.data(), origin.size(), &fresh, message_, sizeof message_),
              VKR_PREVIEW_TRANSPORT_FAILURE);
    EXPECT_EQ(fresh, nullptr);
    vkr_preview_site_release(fresh);
    EXPECT_STREQ(message_, "HTTP send failed or cancelled");

    Bytes buffer(300000, 0xEE);
    std::uint64_t length = 0;
    EXPECT_EQ(vkr_preview_site_read_memory(site, path.data(), path.size(), nullptr, 0, buffer.data(), buffer.size(),
                                           &length, message_, sizeof message_),
              VKR_PREVIEW_TRANSPORT_FAILURE);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xEE), 300000);
    std::uint64_t written = 0;
    EXPECT_EQ(vkr_preview_site_download(site, path.data(), path.size(), nullptr, 0, download.data(), download.size(),
                                        &written, message_, sizeof message_),
              VKR_PREVIEW_TRANSPORT_FAILURE);
    EXPECT_EQ(written, 0u);

    EXPECT_EQ(refresh(), VKR_PREVIEW_TRANSPORT_FAILURE);
    EXPECT_EQ(revision(), 5u);
    EXPECT_EQ(fetch("base", out / "item.pak"), VKR_PREVIEW_TRANSPORT_FAILURE);
    EXPECT_TRUE(fs::is_empty(out));
  }
  ASSERT_TRUE(server_->restart(test::ServerCertificate::Trusted)) << server_->error();
  EXPECT_EQ(fetch("base", out / "item.pak"), VKR_PREVIEW_OK) << message_;
  vkr_preview_site_release(site);
}

INSTANTIATE_TEST_SUITE_P(, GameCertificateTest, testing::Values(test::Protocol::Https), test::ProtocolName());

TEST(GameCancel, RefreshAndFetchCancelledFromAnotherThread) {
  auto crypto = defaultPlatform().makeCryptoHost();
  std::vector<publish::SourceFile> sources = {{.name = "index.html", .mime = "text/html", .bytes = {'o', 'k'}}};
  Failure failure;
  ASSERT_TRUE(publish::addGameToSources(gameDescription(1), sources, failure)) << failure.message;
  publish::SiteOptions options;
  options.member_key = SecretKey();
  publish::BuiltSite site;
  ASSERT_TRUE(publish::buildSite(*crypto, sources, options, site, failure)) << failure.message;
  test::TestOrigin origin;
  for (const auto& [path, bytes] : site.files) origin.addFile(path, bytes);
  const std::string origin_text = origin.origin();
  const std::string id = "lantern-keep";
  const std::string version = "1.4.0";
  char message[256];
  const test::TempDir temp("vkr-game-cancel");
  const fs::path& directory = temp.path();

  std::size_t stalls = 0;
  for (const bool through_operation : {false, true}) {
    vkr_preview_game* game = nullptr;
    ASSERT_EQ(vkr_preview_game_create(origin_text.data(), origin_text.size(), id.data(), id.size(), version.data(),
                                      version.size(), &game, message, sizeof message),
              VKR_PREVIEW_OK);
    // Cancels once the call is stuck on the origin's next stall.
    const auto cancel_when_stalled = [&](vkr_preview_operation* operation) {
      return std::thread([&origin, game, operation, stall = ++stalls] {
        EXPECT_TRUE(origin.waitForStalls(stall)) << "stall " << stall;
        if (operation != nullptr) {
          vkr_preview_operation_cancel(operation);
        } else {
          vkr_preview_game_cancel(game);
        }
      });
    };
    // A refresh stalled on its first request.
    origin.setGlobalBehaviour({.stallBeforeHead = std::chrono::milliseconds(20000)});
    vkr_preview_operation* operation = nullptr;
    if (through_operation) {
      ASSERT_EQ(vkr_preview_operation_prepare(&operation), VKR_PREVIEW_OK);
    }
    std::thread canceller = cancel_when_stalled(operation);
    const vkr_preview_status refreshed =
        through_operation ? vkr_preview_game_refresh_hosted_operation(game, operation, 0, message, sizeof message)
                          : vkr_preview_game_refresh_hosted(game, 0, message, sizeof message);
    canceller.join();
    EXPECT_EQ(refreshed, VKR_PREVIEW_CANCELLED);
    vkr_preview_operation_release(operation);

    // An item fetch stalled mid-body leaves no file and no temporary file.
    origin.clearBehaviours();
    vkr_preview_operation* bind = nullptr;
    ASSERT_EQ(vkr_preview_operation_prepare(&bind), VKR_PREVIEW_OK);  // clears any direct cancel
    ASSERT_EQ(vkr_preview_game_refresh_hosted_operation(game, bind, 0, message, sizeof message), VKR_PREVIEW_OK)
        << message;
    vkr_preview_operation_release(bind);
    origin.setGlobalBehaviour({.stallMidBody = std::chrono::milliseconds(20000)});
    operation = nullptr;
    if (through_operation) {
      ASSERT_EQ(vkr_preview_operation_prepare(&operation), VKR_PREVIEW_OK);
    }
    canceller = cancel_when_stalled(operation);
    const std::string target = (directory / "base.pak").string();
    const std::string item = "base";
    std::uint64_t written = 0;
    const vkr_preview_status fetched =
        through_operation
            ? vkr_preview_game_fetch_item_operation(game, operation, item.data(), item.size(), nullptr, 0,
                                                    target.data(), target.size(), &written, message, sizeof message)
            : vkr_preview_game_fetch_item(game, item.data(), item.size(), nullptr, 0, target.data(), target.size(),
                                          &written, message, sizeof message);
    canceller.join();
    EXPECT_EQ(fetched, VKR_PREVIEW_CANCELLED);
    EXPECT_TRUE(fs::is_empty(directory));
    vkr_preview_operation_release(operation);
    origin.clearBehaviours();
    vkr_preview_game_release(game);
  }
}

TEST(GameCatalogueSize, ExactlyTheLimitIsReadOneMoreIsRefusedBeforeAnyRequest) {
  auto crypto = defaultPlatform().makeCryptoHost();
  std::string document;
  Failure failure;
  ASSERT_TRUE(publish::writeCatalogueDocument(gameDescription(1), document, failure)) << failure.message;
  for (const std::size_t size : {std::size_t{65536}, std::size_t{65537}}) {
    std::string padded = document;
    padded.insert(padded.size() - 1, std::string(size - document.size(), ' '));
    std::vector<publish::SourceFile> sources = {{.name = "index.html", .mime = "text/html", .bytes = {'o', 'k'}},
                                                {.name = std::string(publish::kCatalogueFileName),
                                                 .mime = "application/json",
                                                 .bytes = Bytes(padded.begin(), padded.end())}};
    for (const publish::GameItem& item : gameDescription(1).items) {
      sources.push_back({.name = item.path, .mime = item.mime, .bytes = item.bytes});
    }
    publish::SiteOptions options;
    options.carrier_count = 1;
    publish::BuiltSite site;
    ASSERT_TRUE(publish::buildSite(*crypto, sources, options, site, failure)) << failure.message;
    test::TestOrigin origin;
    for (const auto& [path, bytes] : site.files) origin.addFile(path, bytes);
    const std::string origin_text = origin.origin();
    const std::string id = "lantern-keep";
    const std::string version = "1.4.0";
    char message[256];
    vkr_preview_game* game = nullptr;
    ASSERT_EQ(vkr_preview_game_create(origin_text.data(), origin_text.size(), id.data(), id.size(), version.data(),
                                      version.size(), &game, message, sizeof message),
              VKR_PREVIEW_OK);
    const vkr_preview_status status = vkr_preview_game_refresh_hosted(game, 0, message, sizeof message);
    if (size == 65536) {
      EXPECT_EQ(status, VKR_PREVIEW_OK) << message;
    } else {
      EXPECT_EQ(status, VKR_PREVIEW_INVALID_DATA);
      EXPECT_STREQ(message, "Public game catalogue is absent or oversized");
      EXPECT_EQ(origin.requestCount(), 2u);  // the two favicon requests, nothing for the catalogue
    }
    vkr_preview_game_release(game);
  }
}

}  // namespace
}  // namespace vesmara
