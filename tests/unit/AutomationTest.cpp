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

namespace rlv {
namespace {

using Lines = std::deque<ui::CommandLines::Line>;

std::vector<std::string> Texts(const Lines& lines) {
  std::vector<std::string> out;
  for (const auto& line : lines) out.push_back(line.too_long ? "<too long>" : line.text);
  return out;
}

TEST(CommandLines, CutsLinesWhereverTheInputIsSplit) {
  ui::CommandLines cutter;
  Lines lines;
  cutter.Feed("get A\nprop B te", lines);
  EXPECT_EQ(Texts(lines), (std::vector<std::string>{"get A"}));
  cutter.Feed("xt\n", lines);
  cutter.Feed("\npage\r\nquit", lines);
  EXPECT_EQ(Texts(lines), (std::vector<std::string>{"get A", "prop B text", "", "page\r"}));
  EXPECT_EQ(cutter.Held(), 4u);
  cutter.Finish(lines);
  EXPECT_EQ(Texts(lines), (std::vector<std::string>{"get A", "prop B text", "", "page\r", "quit"}));
  EXPECT_EQ(cutter.Held(), 0u);
  cutter.Finish(lines);  // nothing more to end
  EXPECT_EQ(lines.size(), 5u);
}

TEST(CommandLines, ALineOverTheLimitIsReportedOnceAndDropped) {
  ui::CommandLines cutter;
  Lines lines;
  const std::string piece(1000, 'a');
  // Exactly at the limit is still a line.
  std::string at_limit(ui::CommandLines::kMaxLine, 'b');
  cutter.Feed(at_limit + "\n", lines);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_FALSE(lines[0].too_long);
  EXPECT_EQ(lines[0].text.size(), ui::CommandLines::kMaxLine);
  lines.clear();

  // A longer one, arriving in pieces: reported as soon as it passes the limit,
  // and nothing of it is kept.
  size_t fed = 0;
  while (fed <= ui::CommandLines::kMaxLine) {
    cutter.Feed(piece, lines);
    fed += piece.size();
    EXPECT_LE(cutter.Held(), ui::CommandLines::kMaxLine);
  }
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].too_long);
  for (int i = 0; i < 3000; ++i) cutter.Feed(piece, lines);
  EXPECT_EQ(cutter.Held(), 0u);
  EXPECT_EQ(lines.size(), 1u);
  // What follows the line break is read as usual.
  cutter.Feed(piece + "\npage\nget A\n", lines);
  EXPECT_EQ(Texts(lines), (std::vector<std::string>{"<too long>", "page", "get A"}));

  // In one piece with its neighbours, and unfinished at the end of input.
  lines.clear();
  cutter.Feed("page\n" + std::string(ui::CommandLines::kMaxLine + 1, 'c') + "\nquit\n" + piece, lines);
  cutter.Feed(std::string(ui::CommandLines::kMaxLine, 'd'), lines);
  cutter.Finish(lines);
  EXPECT_EQ(Texts(lines), (std::vector<std::string>{"page", "<too long>", "quit", "<too long>"}));
  EXPECT_EQ(ui::CommandLines::TooLongAnswer(), "error: line longer than 1048576 bytes, ignored");
}

TEST(Automation, QuitAndOtherBareCommandsRefuseTrailingWords) {
  Headless h;
  EXPECT_EQ(h.Run("quit now"), "error: quit takes no arguments, got \"now\"");
  EXPECT_FALSE(h.automation.Finished());
  EXPECT_FALSE(h.w().Closed());
  EXPECT_EQ(h.Run("page 2"), "error: page takes no arguments, got \"2\"");
  EXPECT_EQ(h.Run("boxes all"), "error: boxes takes no arguments, got \"all\"");
  EXPECT_EQ(h.Run("clipboard x"), "error: clipboard takes no arguments, got \"x\"");
  EXPECT_EQ(h.Run("quit \t"), "ok");
  EXPECT_TRUE(h.automation.Finished());
}

TEST(Automation, TabsSeparateWordsLikeBlanks) {
  Headless h;
  EXPECT_EQ(h.Run("\tget\tComPortDeviceCaption\t"), "ok ComPort");
  EXPECT_EQ(h.Run("prop \t MImage9\t\tleft"), "ok 594");
  EXPECT_EQ(h.Run("type\tMODVALUE\t12 34"), "ok");
  EXPECT_EQ(h.Run("get MODVALUE"), "ok 12 34");
  EXPECT_EQ(h.Run("until\tENUMPORTS\tvisible\t0\t100"), "ok");
  EXPECT_EQ(h.Run("answer\tconfirm\tyes"), "ok");
}

TEST(Automation, ControlCharactersOfTheCommandAreEscapedInAnswers) {
  Headless h;
  EXPECT_EQ(h.Run("fro\x1b[2Jb"), "error: unknown command fro\\x1b[2Jb");
  EXPECT_EQ(h.Run(std::string("get Na\x07me\x7f", 10)), "error: unknown control Na\\x07me\\x7f");
  EXPECT_EQ(h.Run(std::string("get A\0B", 7)), "error: unknown control A\\x00B");
  EXPECT_EQ(h.Run("prop MImage9 le\rft"), "error: unknown property le\\rft");
  EXPECT_EQ(h.Run("until MImage9 fla\x01vour 1 10"), "error: unknown property fla\\x01vour");
  EXPECT_EQ(h.Run("quit \x1b"), "error: quit takes no arguments, got \"\\x1b\"");
}

}  // namespace
}  // namespace rlv
