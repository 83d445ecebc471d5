// The history of the configurations read from trackers, and the settings
// page's panel that opens, compares and writes back a kept one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ShippedFiles.h"
#include "World.h"
#include "config/ConfigText.h"

namespace rlv {
namespace {

struct Connected : fake::World {
  Connected() {
    env.dir.Write("language.lng", fake::ShippedLanguageFile());
    Start();
    env.clock.Advance(1500);  // identified; the configuration read at connection
  }
  std::vector<std::string> Kept() { return w().history.Files(sim.Config().imei); }
  void Read() {
    w().controls.UserClick("MImage7");
    env.clock.Advance(1000);
  }
  std::vector<uint8_t> Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
};

TEST(ConfigHistory, OneFilePerDistinctConfigurationReadNewestFirst) {
  Connected t;
  const std::string imei = t.sim.Config().imei;
  ASSERT_EQ(t.w().transfer.TrackerImei, imei);
  auto kept = t.Kept();
  ASSERT_EQ(kept.size(), 1u);
  const std::string folder = platform::JoinPath(t.env.dir.File("History"), imei) + platform::kPathSeparator;
  EXPECT_EQ(kept[0].rfind(folder, 0), 0u) << kept[0];
  EXPECT_EQ(t.Content(kept[0]),
            config::BuildConfigFile(t.sim.Record(0), t.sim.Record(1)));  // the tracker's own bytes

  // The same configuration read again: nothing new.
  t.env.clock.Sleep(5000);
  t.Read();
  EXPECT_EQ(t.Kept().size(), 1u);

  // Another configuration on the tracker: a second file, listed first.
  config::Block changed = t.sim.Record(0);
  changed[87] = '+';
  changed[88] = '9';
  t.sim.SetRecord(0, changed);
  t.Read();
  kept = t.Kept();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(t.Content(kept[0]), config::BuildConfigFile(changed, t.sim.Record(1)));
  EXPECT_EQ(t.w().controls["HistoryList"].Items().size(), 2u);

  // Two distinct configurations kept within one second: both, the later first.
  config::text::Records a{changed, t.sim.Record(1)};
  a.block1[89] = '1';
  config::text::Records b = a;
  b.block1[89] = '2';
  const std::string path_a = t.w().history.Keep(imei, a);
  const std::string path_b = t.w().history.Keep(imei, b);
  ASSERT_FALSE(path_a.empty());
  EXPECT_EQ(path_b, path_a.substr(0, path_a.size() - 4) + "-2.fcg");
  kept = t.Kept();
  ASSERT_EQ(kept.size(), 4u);
  EXPECT_EQ(kept[0], path_b);
  EXPECT_EQ(kept[1], path_a);
  t.w().history.Refresh();
  EXPECT_EQ(t.w().controls["HistoryList"].Items().size(), 4u);
}

TEST(ConfigHistory, OnlyAFifteenDigitImeiNamesAFolder) {
  Connected t;
  config::text::Records r;
  for (const char* imei : {"", "../../etc", "86600000000000/", "8660000000000011", "86600000000000a"}) {
    EXPECT_EQ(t.w().history.Folder(imei), "") << imei;
    EXPECT_EQ(t.w().history.Keep(imei, r), "") << imei;
  }
}

TEST(ConfigHistory, ThePanelComparesOpensAndWritesBackAKeptConfiguration) {
  Connected t;
  app::MainWindow& w = t.w();
  const config::Block first = t.sim.Record(0);
  config::Block changed = first;
  changed[87] = '+';
  changed[88] = '9';
  t.sim.SetRecord(0, changed);
  t.Read();
  ASSERT_EQ(w.controls["HistoryList"].Items().size(), 2u);

  // Nothing selected: the panel says what to select.
  ASSERT_LT(w.controls["HistoryList"].Index(), 0);
  w.controls.UserClick("HistoryCompare");
  EXPECT_EQ(w.controls["HistoryDiff"].Text(), w.messages.GetStringOr("Window", "SelectHistory", "?"));
  // The older one against the pages (which show the newer): the phone differs.
  w.controls.UserSelect("HistoryList", 1);
  w.controls.UserClick("HistoryCompare");
  EXPECT_EQ(w.controls["HistoryDiff"].Text(), "connection.DISPNUMBER: \"+7\" -> \"+9\"\n");

  w.controls.UserClick("HistoryOpen");
  EXPECT_EQ(w.controls["DISPNUMBER"].Text(), "+7");
  w.controls.UserClick("HistoryCompare");
  EXPECT_EQ(w.controls["HistoryDiff"].Text(), w.messages.GetStringOr("Window", "NoDifferences", "?"));

  // Written back after the review: the tracker holds the older configuration's fields.
  t.env.dialogs.QueueConfirm(true);
  w.controls.UserClick("HistoryWrite");
  t.env.clock.Advance(1000);
  EXPECT_EQ(t.sim.Record(0)[87], '+');
  EXPECT_EQ(t.sim.Record(0)[88], '7');
  ASSERT_FALSE(w.review.LastChanges.empty());
  EXPECT_EQ(w.review.LastChanges[0].key, "connection.DISPNUMBER");
}

}  // namespace
}  // namespace rlv
