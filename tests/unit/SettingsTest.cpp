// The configurator's settings and the language file.
#include <gtest/gtest.h>

#include <filesystem>

#include "TrackerSim.h"
#include "World.h"
#include "ui/HelpEditor.h"
#include "ui/Messages.h"

namespace rlv {
namespace {

using fake::World;

TEST(Language, PicksOneHalfOfABilingualValue) {
  EXPECT_EQ(ui::ReadLangStr("Открыть порт//\\ Open port", "russian"), "Открыть порт");
  EXPECT_EQ(ui::ReadLangStr("Открыть порт//\\ Open port", "english"), "Open port");
  EXPECT_EQ(ui::ReadLangStr("Открыть порт//\\ Open port", "German"), "Открыть порт");
  EXPECT_EQ(ui::ReadLangStr("", "english"), "");
  EXPECT_EQ(ui::ReadLangStr("", "russian"), "");
  // The skipped character may be any one character, a multi-byte one too.
  EXPECT_EQ(ui::ReadLangStr("Да//\\ЖYes", "english"), "Yes");
  EXPECT_EQ(ui::ReadLangStr("Да//\\", "english"), "");
  EXPECT_EQ(ui::ReadLangStr("Да//\\ ", "english"), "");
  // Without the separator the value is shown whole in both languages.
  EXPECT_EQ(ui::ReadLangStr("MImage3", "english"), "MImage3");
}

TEST(Language, FormatsOnlyTheArgumentsATextMayTake) {
  EXPECT_EQ(ui::FormatInt("%s%s%n%d%d", 100), "%s%s%n100%d");
  EXPECT_EQ(ui::FormatIntText("Канал %d: %s", 2, "ok"), "Канал 2: ok");
  EXPECT_EQ(ui::FormatIntText("%s %d %s %d", 2, "ok"), "%s 2 ok %d");
  EXPECT_EQ(ui::FormatIntText("100%% %", 1, "x"), "100% %");
}

TEST(Language, MessagesComeFromTheLanguageFile) {
  World world;
  world.env.dir.Write("language.lng",
                      "[Messages]\nM68=Ошибка выполнения//\\ Execution error\nM36=%s%s%n%d%d\n");
  world.Start();
  auto& w = world.w();
  EXPECT_EQ(w.messages.GetMessageA(68), "Ошибка выполнения");
  EXPECT_EQ(w.messages.GetMessageA(7), "Message7");
  w.messages.LanguageName = "english";
  EXPECT_EQ(w.messages.GetMessageA(68), "Execution error");
  EXPECT_EQ(w.messages.GetString("Strings", "Str86"), "");
  // A hostile format text for an unknown command stays harmless.
  const auto frame = sim::BuildResponseFrame(100, {0});
  w.codec.ScanFrames(frame.data(), frame.size());
  EXPECT_EQ(w.controls["MESLABEL"].Text(), "%s%s%n100%d");
}

TEST(Language, WithoutALanguageFileMessagesShowTheirNumber) {
  World world;
  world.Start();
  const auto frame = sim::BuildResponseFrame(255, {1});
  world.w().codec.ScanFrames(frame.data(), frame.size());
  EXPECT_EQ(world.w().controls["MESLABEL"].Text(), "Message68");
}

TEST(Settings, FirstStartUsesTheDefaultsAndCloseWritesOnlyTheUserSettings) {
  World world(sim::SimConfig{}, /*plugged=*/false);
  world.Start();
  auto& w = world.w();
  EXPECT_EQ(w.messages.LanguageName, "russian");
  EXPECT_EQ(w.link.PortName, "COM1");
  // "default" cannot be opened: the reset ran and remembers "default.fcg".
  EXPECT_EQ(w.transfer.ConfigPath, "default.fcg");
  EXPECT_EQ(w.settings.ServerList.size(), 1u);
  EXPECT_EQ(w.settings.UpdatePort, 10500);
  EXPECT_EQ(w.settings.ConfigPort, 10890);
  EXPECT_FALSE(w.controls["AutoSendConfig"].Checked());
  EXPECT_FALSE(w.controls["DisableNews"].Checked());
  EXPECT_EQ(w.settings.MTK3333FW, 0);
  EXPECT_EQ(w.controls["FormCaption"].Text(), "Конфигуратор Kelvane RLVexa v.1.0");
  w.FormClose();
  EXPECT_EQ(world.env.dir.Read("config.ini"),
            "[Settings]\nLanguage=russian\nComPort=COM1\nFile_configuration=default.fcg\nAutoSendConfig=0\n"
            "DisableNews=0\n");
}

TEST(Settings, ReadsEveryKeyAndKeepsTheRestOfTheFile) {
  World world(sim::SimConfig{}, false);
  const std::string file =
      "; site settings\n[Settings]\nLanguage=english\nComPort=/dev/ttyUSB3\nFile_configuration=/tmp/a.fcg\n"
      "AutoSendConfig=5\nDisableNews=1\nMTK3333FW=17\n[Address]\nServerAdr=192.0.2.10\nServerAdr2=\n"
      "ServerAdr3=store.example.com\nUpdatePort=70000\nConfigPort=abc\n[Passes]\n866000000000001=4321\n";
  world.env.dir.Write("config.ini", file);
  world.Start();
  auto& w = world.w();
  EXPECT_EQ(w.messages.LanguageName, "english");
  // The remembered file does not exist, so the start built the defaults; reading alone keeps the name.
  EXPECT_EQ(w.transfer.ConfigPath, "default.fcg");
  w.settings.ReadFormSettings();
  EXPECT_EQ(w.transfer.ConfigPath, "/tmp/a.fcg");
  EXPECT_EQ(w.settings.ServerList, (std::vector<std::string>{"192.0.2.10", "store.example.com"}));
  EXPECT_EQ(w.settings.UpdatePort, 4464);
  EXPECT_EQ(w.settings.ConfigPort, 10890);
  EXPECT_TRUE(w.controls["AutoSendConfig"].Checked());
  EXPECT_TRUE(w.controls["DisableNews"].Checked());
  EXPECT_EQ(w.settings.MTK3333FW, 17);
  EXPECT_EQ(w.settings.ReadPass("866000000000001"), 4321);
  EXPECT_EQ(w.settings.ReadPass("866000000000002"), 0);

  EXPECT_TRUE(w.settings.WritePass("866000000000001", 0));
  w.controls["AutoSendConfig"].SetChecked(false);
  w.FormClose();
  std::string expected = file;
  expected.replace(expected.find("AutoSendConfig=5"), 16, "AutoSendConfig=0");
  expected.replace(expected.find("=4321"), 5, "=0");
  EXPECT_EQ(world.env.dir.Read("config.ini"), expected);
}

// The port of a run of its own (the demo tracker, a port declared on the
// command line) is never remembered, and a command keeps every setting.
TEST(Settings, OnlyTheUsersOwnPortIsSaved) {
  const std::string file = "[Settings]\nLanguage=english\nComPort=/dev/ttyUSB3\n";
  struct Case {
    const char* run;
    bool demo;
    std::string tracker_port;
    bool keep_user_settings;
    std::string port_in_use;
    std::string saved_port;  // empty: the file is left as it was
  };
  const Case cases[] = {
      {"the window", false, "", false, "/dev/ttyACM0", "/dev/ttyACM0"},
      {"--demo", true, "", false, "DEMO", "/dev/ttyUSB3"},
      {"--tracker-port", false, "/dev/pts/7", false, "/dev/pts/7", "/dev/ttyUSB3"},
      {"--tracker-port, another port", false, "/dev/pts/7", false, "/dev/ttyACM1", "/dev/ttyACM1"},
      {"a command", false, "", true, "/dev/ttyACM0", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.run);
    fake::FakeEnvironment env;
    env.dir.Write("config.ini", file);
    app::Options options;
    options.data_dir = env.dir.Path();
    options.demo = c.demo;
    options.tracker_port = c.tracker_port;
    app::MainWindow w(env.platform, options);
    w.settings.KeepUserSettings = c.keep_user_settings;
    w.FormCreate();
    w.FormShow();
    w.link.PortName = c.port_in_use;
    w.messages.LanguageName = "russian";
    w.FormClose();
    const std::string saved = env.dir.Read("config.ini");
    if (c.saved_port.empty()) {
      EXPECT_EQ(saved, file);
    } else {
      const auto doc = platform::IniDocument::Parse(saved);
      EXPECT_EQ(doc.Get("Settings", "ComPort").value_or(""), c.saved_port);
      EXPECT_EQ(doc.Get("Settings", "Language").value_or(""), "russian");
    }
  }
}

// A demo port an earlier version remembered is not probed by a normal start.
TEST(Settings, ARememberedDemoPortIsNotProbed) {
  World world(sim::SimConfig{}, false);
  world.env.dir.Write("config.ini", "[Settings]\nComPort=DEMO\n");
  world.Start();
  EXPECT_EQ(world.w().link.PortName, "COM1");
  world.env.clock.Advance(0);  // the probe at start
  EXPECT_NE(world.env.serial.Name(), "DEMO");
  EXPECT_EQ(world.w().controls["ComPortDeviceCaption"].Text().find("DEMO"), std::string::npos);
  world.w().FormClose();
  EXPECT_EQ(world.env.dir.Read("config.ini").find("DEMO"), std::string::npos);
}

TEST(Settings, ThePortFromTheSettingsIsProbedFirst) {
  World world(sim::SimConfig{}, false);
  world.env.dir.Write("config.ini", "[Settings]\nComPort=/dev/ttyS1\n");
  world.Start();
  world.env.clock.Advance(0);  // the probe at start
  ASSERT_FALSE(world.env.serial.Writes().empty() && world.env.serial.OpenCount() == 0);
  EXPECT_EQ(world.env.serial.Name(), "/dev/ttyS1");
}

}  // namespace
}  // namespace rlv

namespace rlv {
namespace {

TEST(Language, FallsBackToTheFileShippedBesideTheProgram) {
  fake::TempDir program;
  program.Write("language.lng", "[Messages]\nM68=Из программы//\\ From the program\n");
  fake::FakeEnvironment env;
  app::Options options;
  options.data_dir = env.dir.Path();
  options.program_dir = program.Path();
  app::MainWindow w(env.platform, options);
  EXPECT_EQ(w.messages.GetMessageA(68), "Из программы");
  env.dir.Write("language.lng", "[Messages]\nM68=Своя//\\ Own\n");
  EXPECT_EQ(w.messages.GetMessageA(68), "Своя");
}

TEST(Language, TheHelpEditorWritesTheUsersCopyAndLeavesTheShippedFileAlone) {
  // Installed: the shipped file lies in the system data folder, the user's
  // files in the user's data folder.
  fake::TempDir shipped;
  const std::string original =
      "[Messages]\nM68=Из программы//\\ From the program\n[Help]\nLIMEI=Старая//\\ Old\n";
  shipped.Write("language.lng", original);
  fake::FakeEnvironment env;
  app::Options options;
  options.data_dir = env.dir.Path();
  options.program_dir = shipped.Path();
  app::MainWindow w(env.platform, options);
  w.FormCreate();
  w.FormShow();
  w.AfterFirstPaint();
  w.controls.UserMouseMove("LIMEI");
  w.OnHotKey(126);
  ASSERT_TRUE(w.controls.UserType(ui::HelpEditor::kMemo, "Новая//\\ New"));
  ASSERT_TRUE(w.controls.UserClick(ui::HelpEditor::kOkButton));

  EXPECT_EQ(shipped.Read("language.lng"), original);
  ASSERT_TRUE(env.dir.Exists("language.lng"));
  const auto copy = platform::IniDocument::Parse(env.dir.Read("language.lng"));
  EXPECT_EQ(copy.Get("Help", "LIMEI").value_or(""), "Новая//\\ New");
  // The rest of the shipped file comes along.
  EXPECT_EQ(copy.Get("Messages", "M68").value_or(""), "Из программы//\\ From the program");
  EXPECT_EQ(w.messages.GetMessageA(68), "Из программы");
}

}  // namespace
}  // namespace rlv

namespace rlv {
namespace {

// The real INI service, counting the files it reads.
struct CountingIni : platform::StdIniFiles {
  int loads = 0;
  std::optional<platform::IniDocument> Load(const std::string& path, std::string* why) override {
    ++loads;
    return StdIniFiles::Load(path, why);
  }
};

TEST(Language, LookupsAreServedFromMemoryUntilTheFileChanges) {
  fake::FakeEnvironment env;
  CountingIni ini;
  env.platform.ini = &ini;
  env.dir.Write("language.lng", "[Messages]\nM68=Первый//\\ First\n");
  app::Options options;
  options.data_dir = env.dir.Path();
  app::MainWindow w(env.platform, options);
  EXPECT_EQ(w.messages.GetMessageA(68), "Первый");
  const int after_first = ini.loads;
  for (int i = 0; i < 1000; ++i) w.messages.GetMessageA(68);
  EXPECT_EQ(ini.loads, after_first);

  // Another program (or an editor) changes the file: the next lookup sees it.
  env.dir.Write("language.lng", "[Messages]\nM68=Второй, длиннее//\\ Second\n");
  EXPECT_EQ(w.messages.GetMessageA(68), "Второй, длиннее");
  EXPECT_EQ(ini.loads, after_first + 1);
}

TEST(Settings, AFolderInPlaceOfTheSettingsFileIsReportedAndKept) {
  World world;
  std::filesystem::create_directory(world.env.dir.File("config.ini"));
  world.Start();
  ASSERT_FALSE(world.shown.empty());
  EXPECT_NE(world.shown.front().find(world.env.dir.File("config.ini") + " (a folder, not a file)"),
            std::string::npos);
  world.shown.clear();
  world.w().FormClose();
  ASSERT_EQ(world.shown.size(), 1u);
  EXPECT_NE(world.shown[0].find(world.env.dir.File("config.ini")), std::string::npos);
  EXPECT_EQ(world.shown[0], world.w().settings.LastError);
  EXPECT_TRUE(std::filesystem::is_directory(world.env.dir.File("config.ini")));
}

TEST(Settings, ASettingsFileThatCannotBeReadIsNeverReplaced) {
  World world;
  // Larger than any settings file: refused unread, and so never rewritten.
  const std::string big =
      "[Passes]\n356938035643809=1234\n" + std::string(platform::IIniFiles::kMaxFileSize, ';');
  world.env.dir.Write("config.ini", big);
  world.Start();
  EXPECT_FALSE(world.w().settings.WritePass("356938035643809", 99));
  EXPECT_FALSE(world.w().settings.SaveFormSettings());
  EXPECT_NE(world.w().settings.LastError.find("larger than"), std::string::npos);
  EXPECT_EQ(world.env.dir.Read("config.ini"), big);
}

}  // namespace
}  // namespace rlv
