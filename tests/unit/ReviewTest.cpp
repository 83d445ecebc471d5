// Review before write: the fields a write changes on the tracker, asked first.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ShippedFiles.h"
#include "World.h"
#include "config/ConfigText.h"

namespace rlv {
namespace {

// A configurator with the shipped language file that has read the tracker's
// configuration at connection.
struct ReadTracker : fake::World {
  explicit ReadTracker(const std::string& settings = "") {
    env.dir.Write("language.lng", fake::ShippedLanguageFile());
    if (!settings.empty()) env.dir.Write("config.ini", settings);
    Start();
    env.clock.Advance(1500);
  }
  size_t Writes() const {
    size_t n = 0;
    for (int c : SentCommands()) n += c == 33 ? 1 : 0;
    return n;
  }
  std::vector<std::string> Keys() const {
    std::vector<std::string> keys;
    for (const auto& d : window->review.LastChanges) keys.push_back(d.key);
    return keys;
  }
  void Write() {
    w().controls.UserClick("MImage6");
    env.clock.Advance(1000);
  }
};

TEST(WriteReview, AWriteAfterAReadListsExactlyTheFieldsChangedOnThePagesAndAsks) {
  ReadTracker t;
  app::MainWindow& w = t.w();
  ASSERT_TRUE(w.review.OnTracker().has_value());
  const size_t boxes = t.env.dialogs.Boxes().size();

  w.controls.UserType("SERVERIP", "fleet.example.org:7000");
  w.controls.UserType("DISPNUMBER", "+79001234567");
  t.env.dialogs.QueueConfirm(false);
  t.Write();
  EXPECT_EQ(t.Keys(), (std::vector<std::string>{"connection.SERVERIP", "connection.DISPNUMBER"}));
  ASSERT_EQ(t.env.dialogs.Boxes().size(), boxes + 1);
  const std::string& question = t.env.dialogs.Boxes().back();
  EXPECT_NE(
      question.find("connection.SERVERIP: \"telematics.example.com:21114\" -> \"fleet.example.org:7000\"\n"),
      std::string::npos)
      << question;
  EXPECT_NE(question.find("connection.DISPNUMBER: \"+7\" -> \"+79001234567\"\n"), std::string::npos)
      << question;
  EXPECT_EQ(t.Writes(), 0u) << "a declined review wrote";

  t.env.dialogs.QueueConfirm(true);
  t.Write();
  EXPECT_EQ(t.Writes(), 2u);
  EXPECT_EQ(t.sim.Record(0), w.config.ConfigBlock1);
  EXPECT_EQ(t.env.dialogs.Boxes().size(), boxes + 2);

  // What was written is now what the tracker holds: nothing to confirm.
  t.Write();
  EXPECT_TRUE(t.Keys().empty());
  EXPECT_EQ(t.env.dialogs.Boxes().size(), boxes + 2);
  EXPECT_EQ(t.Writes(), 4u);
}

TEST(WriteReview, AnUnchangedConfigurationIsWrittenWithoutAQuestion) {
  ReadTracker t;
  const size_t boxes = t.env.dialogs.Boxes().size();
  t.Write();
  EXPECT_TRUE(t.Keys().empty());
  EXPECT_EQ(t.env.dialogs.Boxes().size(), boxes);
  EXPECT_EQ(t.Writes(), 2u);
}

TEST(WriteReview, TheSettingsFileTurnsTheReviewOff) {
  ReadTracker t("[Settings]\nReviewBeforeWrite=0\n");
  const size_t boxes = t.env.dialogs.Boxes().size();
  t.w().controls.UserType("DISPNUMBER", "+79001234567");
  t.Write();
  EXPECT_EQ(t.env.dialogs.Boxes().size(), boxes);
  EXPECT_EQ(t.Writes(), 2u);
}

TEST(WriteReview, ANewConnectionForgetsTheConfigurationRead) {
  ReadTracker t;
  ASSERT_TRUE(t.w().review.OnTracker().has_value());
  t.env.devices.Remove(fake::World::kTrackerPort);
  t.env.clock.Advance(2000);
  EXPECT_FALSE(t.w().review.OnTracker().has_value());
  // Without a read there is nothing to compare: the write asks nothing.
  const size_t boxes = t.env.dialogs.Boxes().size();
  t.w().controls.UserType("DISPNUMBER", "+79001234567");
  t.w().transfer.LoadToDevice();
  EXPECT_EQ(t.env.dialogs.Boxes().size(), boxes);
}

}  // namespace
}  // namespace rlv
