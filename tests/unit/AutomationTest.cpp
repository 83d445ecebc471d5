// The headless automation commands on the fake platform.
#include <gtest/gtest.h>

#include "World.h"
#include "ui/Automation.h"

namespace rlv {
namespace {

struct Headless : fake::World {
  Headless() : automation(w(), env.clock, env.dialogs) { Start(); }
  std::string Run(const std::string& line) { return automation.Execute(line); }
  ui::Automation automation;
};

TEST(Automation, ReadsControlsAndProperties) {
  Headless h;
  EXPECT_EQ(h.Run("get ComPortDeviceCaption"), "ok ComPort");
  EXPECT_EQ(h.Run("prop MImage9 left"), "ok 594");
  EXPECT_EQ(h.Run("prop MImage9 tag"), "ok 9");
  EXPECT_EQ(h.Run("prop MImage7 enabled"), "ok 0");
  EXPECT_EQ(h.Run("prop Panel9 color"), "ok 62,98,170");
  EXPECT_EQ(h.Run("prop ENUMPORTS visible"), "ok 0");
  EXPECT_EQ(h.Run("page"), "ok 0");
  EXPECT_EQ(h.Run("prop Nope text"), "error: unknown control Nope");
  EXPECT_EQ(h.Run("prop MImage9 flavour"), "error: unknown property flavour");
  EXPECT_EQ(h.Run("frobnicate"), "error: unknown command frobnicate");
  EXPECT_EQ(h.Run(""), "error: empty command");
}

TEST(Automation, WaitsAndWaitsUntil) {
  Headless h;
  const std::string expected = std::string(fake::World::kTrackerPort) + ": RL20Vexa";
  EXPECT_EQ(h.Run("until ComPortDeviceCaption text " + expected + " 3000"), "ok");
  EXPECT_EQ(h.Run("page"), "ok 1");
  EXPECT_EQ(h.Run("prop MImage7 enabled"), "ok 1");
  EXPECT_EQ(h.Run("until ENUMPORTS visible 1 200"), "error: timeout, visible is \"0\"");
  const int64_t before = h.env.clock.Now();
  EXPECT_EQ(h.Run("wait 250"), "ok");
  EXPECT_EQ(h.env.clock.Now() - before, 250);
  EXPECT_EQ(h.Run("wait soon"), "error: expected MS");
}

TEST(Automation, UserActionsAndDisabledControls) {
  Headless h;
  h.w().messages.MessageShow("line one\nline two");
  EXPECT_EQ(h.Run("get MESLABEL"), "ok line one\\nline two");
  EXPECT_EQ(h.Run("click OKMES"), "ok");
  EXPECT_EQ(h.Run("prop MESPANEL visible"), "ok 0");
  EXPECT_EQ(h.Run("click MImage7"), "error: control MImage7 is disabled");
  EXPECT_EQ(h.Run("type MODVALUE \"12 34\""), "ok");
  EXPECT_EQ(h.Run("get MODVALUE"), "ok 12 34");
  EXPECT_EQ(h.Run("check MODVALUE 2"), "error: expected 0 or 1");
  EXPECT_EQ(h.Run("select ENUMPORTS 99"), "error: no item 99");
  EXPECT_EQ(h.Run("hotkey 126"), "ok");
}

TEST(Automation, DialogAnswersAndQuit) {
  Headless h;
  EXPECT_EQ(h.Run("answer open /tmp/a b.fcg"), "ok");
  EXPECT_EQ(h.Run("answer save cancel"), "ok");
  EXPECT_EQ(h.Run("answer confirm maybe"), "error: expected yes or no");
  EXPECT_EQ(h.Run("answer confirm yes"), "ok");
  EXPECT_EQ(h.env.dialogs.OpenFile("*.fcg"), std::optional<std::string>("/tmp/a b.fcg"));
  EXPECT_EQ(h.env.dialogs.SaveFile("*.fcg", "fcg", ""), std::nullopt);
  EXPECT_TRUE(h.env.dialogs.Confirm("Sure?", ""));
  EXPECT_FALSE(h.env.dialogs.Confirm("Again?", ""));
  EXPECT_EQ(h.Run("boxes"), "ok Sure?|Again?");
  h.env.dialogs.SetText("866000000000001");
  EXPECT_EQ(h.Run("clipboard"), "ok 866000000000001");
  EXPECT_EQ(h.Run("quit"), "ok");
  EXPECT_TRUE(h.automation.Finished());
  EXPECT_TRUE(h.w().Closed());
  EXPECT_EQ(h.Run("page"), "error: the window is closed");
}

}  // namespace
}  // namespace rlv
