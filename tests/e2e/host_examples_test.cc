// The host examples run as a host developer runs them, against published
// sites on a loopback origin: a download cancelled from another thread, and
// a game update loop through a republish, a rollback and a damaged item.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "hosts/platform.h"
#include "publish/game_writer.h"
#include "publish/site_builder.h"
#include "support/temp_dir.h"
#include "support/test_origin.h"
#include "tools/tool_process.h"

namespace vesmara {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kLauncher = LAUNCHER;
const std::string kVkr = VKR_TOOL;

class HostExamplesTest : public testing::Test {
 protected:
  // vkr game keeps what it adopted in a state folder: the test's own.
  void SetUp() override { setenv("XDG_STATE_HOME", (folder_ / "state").c_str(), 1); }

  // Publishes revision `revision` of the game (with the item "extra" from
  // revision 6 on) in carriers of its own, and serves it.
  publish::BuiltSite publish(std::uint64_t revision) {
    publish::GameDescription game{
        .id = "lantern-keep", .min_version = "1.0.0", .max_version = "1.9.0", .revision = revision};
    game.items.push_back({.id = "base", .kind = "release", .path = "game/base.pak", .bytes = base_});
    game.items.push_back({.id = "riddles",
                          .kind = "puzzle",
                          .path = "game/riddles.bin",
                          .bytes = test::TestOrigin::makeByteVector(900, 2),
                          .members = true});
    if (revision >= 6) {
      game.items.push_back({.id = "extra", .kind = "event", .path = "game/extra.bin", .bytes = {'n', 'e', 'w'}});
    }
    std::vector<publish::SourceFile> sources = {{.name = "index.html", .mime = "text/html", .bytes = {'o', 'k'}}};
    Failure failure;
    EXPECT_TRUE(publish::addGameToSources(game, sources, failure)) << failure.message;
    publish::SiteOptions options;
    options.member_key = SecretKey();
    options.seed = revision;
    options.carrier_prefix = "/assets/r" + std::to_string(revision) + "-";
    publish::BuiltSite site;
    EXPECT_TRUE(publish::buildSite(*crypto_, sources, options, site, failure)) << failure.message;
    for (const auto& [path, bytes] : site.files) origin_.addFile(path, bytes);
    return site;
  }

  // Damages the stored bytes of the first part of resource `path` on the origin.
  void damage(const publish::BuiltSite& site, const std::string& path) {
    for (const Resource& resource : site.index.resources) {
      if (resource.path != path) continue;
      const ResourcePart& part = resource.parts.at(0);
      std::vector<std::uint8_t> carrier = site.files.at(part.url);
      carrier.at(part.offset) ^= 0x01;
      origin_.addFile(part.url, carrier);
      return;
    }
    FAIL() << "no resource " << path;
  }

  std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::unique_ptr<CryptoHost> crypto_ = defaultPlatform().makeCryptoHost();
  const std::vector<std::uint8_t> base_ = test::TestOrigin::makeByteVector(200000, 1);
  test::TestOrigin origin_;
  const test::TempDir temp_{"vkr-host-examples"};
  const fs::path& folder_ = temp_.path();
};

TEST_F(HostExamplesTest, DownloadCancelledFromAnotherThreadLeavesNothing) {
  publish(5);
  const std::string path = "/vesmara.web/app/game/base.pak";
  const test::ToolResult done =
      test::runTool({kLauncher, "download", origin_.origin(), path, (folder_ / "base.pak").string()});
  ASSERT_EQ(done.exit_code, 0) << done.out;
  EXPECT_NE(done.out.find("downloaded 200000 verified bytes"), std::string::npos) << done.out;
  EXPECT_EQ(fileText(folder_ / "base.pak"), std::string(base_.begin(), base_.end()));

  // Every part request hangs; the index still loads. The cancel must end it.
  origin_.setGlobalBehaviour({.stallBeforeHead = 20s});
  origin_.setBehaviour("/favicon.ico", {});
  const test::ToolResult cancelled =
      test::runTool({kLauncher, "download", origin_.origin(), path, (folder_ / "again.pak").string(), "200"});
  EXPECT_EQ(cancelled.exit_code, 7) << cancelled.out;
  EXPECT_NE(cancelled.out.find("cancelling\n"), std::string::npos) << cancelled.out;
  EXPECT_NE(cancelled.out.find("(status 7: cancelled; nothing was written)"), std::string::npos) << cancelled.out;
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(HostExamplesTest, UpdateLoopRefusesRollbackAndRetriesADamagedItemAfterARefresh) {
  publish(5);
  test::BackgroundTool launcher({kLauncher, "update", origin_.origin(), "lantern-keep", "1.2.0", folder_.string()},
                                /*with_input=*/true);
  // Each check ends with its "checked: ..." line.
  const auto check = [&launcher] {
    std::string lines;
    for (std::string line = launcher.readLine(30s); !line.empty(); line = launcher.readLine(30s)) {
      lines += line + "\n";
      if (line.starts_with("checked: ")) break;
    }
    return lines;
  };
  std::string round = check();
  EXPECT_NE(round.find("revision 5 adopted: 2 items\n  base: fetched 200000 bytes\n"), std::string::npos) << round;
  EXPECT_NE(round.find("  riddles: not fetched: Member content key required (status 10"), std::string::npos) << round;
  EXPECT_TRUE(round.ends_with("checked: revision 5\n")) << round;

  publish(4);
  launcher.writeInput("\n");
  round = check();
  EXPECT_EQ(round,
            "refused an older catalogue (Catalogue revision rolled back; explicit rollback required): keeping "
            "revision 5\nchecked: revision 5\n");

  // The new item fails verification on the origin: the launcher refreshes,
  // tries once more, and reports it.
  const publish::BuiltSite six = publish(6);
  damage(six, "/vesmara.web/app/game/extra.bin");
  launcher.writeInput("\n");
  round = check();
  EXPECT_NE(round.find("revision 6 adopted: 3 items\n  base: fetched 200000 bytes\n"), std::string::npos) << round;
  EXPECT_NE(round.find(": part digest mismatch): refreshing and retrying once\n  extra: not fetched: "),
            std::string::npos)
      << round;
  EXPECT_NE(round.find("(status 11: fetched bytes failed verification"), std::string::npos) << round;
  launcher.writeInput("\n");
  EXPECT_EQ(check(), "revision 6 is current\nchecked: revision 6\n");
  launcher.closeInput();
  EXPECT_EQ(launcher.wait(30s), 0);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"base.r5", "base.r6"}));

  // vkr game, which refreshes and fetches in one run, says what to do.
  const test::ToolResult fetched = test::runTool({kVkr, "game", origin_.origin(), "--id", "lantern-keep", "--version",
                                                  "1.2.0", "fetch", "extra", "-o", (folder_ / "extra.bin").string()});
  EXPECT_EQ(fetched.exit_code, 11);
  EXPECT_NE(fetched.err.find(": part digest mismatch; if the site was republished since its catalogue was read, run "
                             "the command again\n"),
            std::string::npos)
      << fetched.err;
}

// What vkr game adopted is remembered from one run to the next, as a
// launcher would: a site that goes back to an older catalogue is refused.
TEST_F(HostExamplesTest, VkrGameRefusesARollbackAcrossRunsUnlessAllowed) {
  const std::string state = (folder_ / "games").string();
  const auto list = [&](const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {kVkr,        "game",  origin_.origin(), "--id", "lantern-keep",
                                          "--version", "1.2.0", "--state-dir",    state,  "ls"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return test::runTool(arguments);
  };
  publish(6);
  const test::ToolResult first = list({});
  EXPECT_EQ(first.exit_code, 0) << first.err;
  publish(5);
  const test::ToolResult refused = list({});
  EXPECT_EQ(refused.exit_code, 16);
  EXPECT_NE(refused.err.find(": catalogue revision 5 is below revision 6, adopted before ("), std::string::npos)
      << refused.err;
  EXPECT_EQ(refused.out, "");
  const test::ToolResult allowed = list({"--allow-rollback"});
  EXPECT_EQ(allowed.exit_code, 0) << allowed.err;
  EXPECT_TRUE(allowed.out.starts_with("catalogue revision 5, ")) << allowed.out;
  // Revision 5 is what was adopted last.
  EXPECT_EQ(list({}).exit_code, 0);

  // A damaged record is not taken for no record, which would let any rollback through.
  std::vector<fs::path> records;
  for (const auto& entry : fs::directory_iterator(state)) records.push_back(entry.path());
  ASSERT_EQ(records.size(), 1u);
  std::ofstream(records[0]) << "revision 9\n";
  const test::ToolResult damaged = list({});
  EXPECT_EQ(damaged.exit_code, 1);
  EXPECT_NE(damaged.err.find(records[0].string() + " is damaged"), std::string::npos) << damaged.err;
}

}  // namespace
}  // namespace vesmara
