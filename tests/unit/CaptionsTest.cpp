// The [Captions] section of the shipped language file: the English texts of
// the window's designed captions, list items, grid headings and hints. The
// Russian half of every value is the designed text itself, so switching back to
// Russian restores the window exactly as it was built.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "FakePlatform.h"
#include "TrackerSim.h"
#include "World.h"
#include "app/MainWindow.h"
#include "platform/IniFile.h"
#include "ui/Messages.h"

namespace rlv {
namespace {

// Controls whose texts come from the [Header], [Menu], [Strings], [Messages]
// and list sections; the [Captions] section must leave them alone.
// clang-format off
const std::set<std::string> kMappedElsewhere = {
    "ALARMNOTVALIDKEY", "AutoSendConfig", "Button1", "Button19", "Button8", "Button9", "CALLSMSFROMALL",
    "CANBUSMODE", "CalibrateStep0", "CalibrateStep1", "CalibrateStep3", "CalibrateStep3Type", "CloseImage",
    "ConfServState", "CopyIMEI", "DeleteTrack", "DownloadConfigButton", "EnDrivingStyle", "Filterline",
    "FormCaption", "IN1TYPE", "IN2TYPE", "LCURRENTOP", "LConfigPath", "Label1", "Label10", "Label104",
    "Label105", "Label107", "Label108", "Label109", "Label11", "Label110", "Label111", "Label112", "Label113",
    "Label115", "Label116", "Label117", "Label118", "Label119", "Label12", "Label120", "Label124", "Label125",
    "Label127", "Label142", "Label143", "Label145", "Label146", "Label147", "Label148", "Label155",
    "Label188", "Label189", "Label190", "Label191", "Label193", "Label2", "Label21", "Label22", "Label23",
    "Label24", "Label25", "Label26", "Label27", "Label3", "Label32", "Label321", "Label33", "Label34",
    "Label345", "Label35", "Label36", "Label37", "Label38", "Label4", "Label414", "Label45", "Label46",
    "Label47", "Label48", "Label49", "Label5", "Label50", "Label51", "Label56", "Label58", "Label59",
    "Label6", "Label60", "Label61", "Label63", "Label65", "Label66", "Label67", "Label68", "Label69",
    "Label7", "Label70", "Label71", "Label72", "Label8", "LangImage", "MImage0", "MImage1", "MImage10",
    "MImage2", "MImage3", "MImage4", "MImage5", "MImage6", "MImage7", "MImage8", "MImage9", "MODADD",
    "MODBUSMODE", "MODCLEAR", "MODDELETE", "MODGET", "MinzImage", "ModBusStr", "ONOUTIFKEYVALID", "OPERATOR",
    "OUTONINCALLING", "OUTTYPE", "OpenTransPort", "ParkCheck", "Perestroi", "PresetAB", "RS485DEVICE",
    "RzGroupBox1", "RzGroupBox2", "RzGroupBox3", "RzGroupBox4", "RzGroupBox5", "RzGroupBox6", "RzGroupBox7",
    "RzGroupBox8", "RzGroupBox9", "SENDTESTPACK", "StopWriteIfSavePowerMode", "TRACKTYPE",
    "UploadConfigButton", "UploadListIMEIButton", "WIREKEYOPTION"};
// clang-format on

// Designed Russian texts that the program replaces while it runs, so a fixed
// English text would be wrong (key as in [Captions]; ".Items" and ".Cols"
// stand for all items and all headings).
const std::map<std::string, const char*> kRunTimeTexts = {
    // Other texts that show state.
    {"Label44", "title of the CAN pattern editor: the chosen pattern"},
    {"Label430", "the update offer: firmware or configurator"},
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Cyrillic letters are encoded in UTF-8 with a lead byte of 0xD0 to 0xD3.
bool HasCyrillic(const std::string& text) {
  for (unsigned char ch : text) {
    if (ch >= 0xD0 && ch <= 0xD3) return true;
  }
  return false;
}

// One designed text of the window: a caption, an item, a heading or a hint.
struct DesignedText {
  std::string control;
  std::string text;
};

// The window as the program builds it, before it reads any file.
struct Captions : ::testing::Test {
  void SetUp() override {
    app::Options options;
    options.data_dir = env.dir.Path();
    window = std::make_unique<app::MainWindow>(env.platform, options);
    for (const ui::Control* c : window->controls.All()) Collect(*c);
    const std::string text = ReadFile(RLVEXA_SOURCE_DIR "/data/language.lng");
    ASSERT_FALSE(text.empty());
    doc = platform::IniDocument::Parse(text);
    keys = doc.Keys("Captions");
  }

  void Collect(const ui::Control& c) {
    const std::string& name = c.Name();
    if (c.GetKind() != ui::Kind::Edit && c.GetKind() != ui::Kind::Memo) {
      designed[name] = {name, c.Caption()};
    }
    if (!c.Hint().empty()) designed[name + ".Hint"] = {name, c.Hint()};
    for (size_t i = 0; i < c.Items().size() && c.GetKind() != ui::Kind::Memo; ++i) {
      designed[name + ".Item" + std::to_string(i)] = {name, c.Items()[i]};
    }
    for (int col = 0; c.GetKind() == ui::Kind::Grid && c.Rows() > 0 && col < c.Cols(); ++col) {
      designed[name + ".Col" + std::to_string(col)] = {name, c.Cell(col, 0)};
    }
  }

  // "Name.Item3" -> ".Items", "Name.Col1" -> ".Cols", "Name.Hint" -> ".Hint", "Name" -> "".
  static std::string Group(const std::string& key) {
    const size_t dot = key.find('.');
    if (dot == std::string::npos) return "";
    const std::string suffix = key.substr(dot);
    if (suffix.rfind(".Item", 0) == 0) return ".Items";
    if (suffix.rfind(".Col", 0) == 0) return ".Cols";
    return suffix;
  }
  static std::string ControlOf(const std::string& key) { return key.substr(0, key.find('.')); }

  // What the window shows now for a key of the section.
  std::string Shown(const std::string& key) const {
    const ui::Control& c = window->controls[ControlOf(key)];
    const std::string group = Group(key);
    const size_t dot = key.find('.');
    if (group.empty()) return c.Caption();
    if (group == ".Hint") return c.Hint();
    if (group == ".Items") return c.Items().at(std::stoul(key.substr(dot + 5)));
    return c.Cell(std::stoi(key.substr(dot + 4)), 0);
  }

  bool Exempt(const std::string& key) const {
    return kRunTimeTexts.count(key) > 0 || kRunTimeTexts.count(ControlOf(key) + Group(key)) > 0;
  }

  fake::FakeEnvironment env;
  std::unique_ptr<app::MainWindow> window;
  std::map<std::string, DesignedText> designed;
  platform::IniDocument doc;
  std::vector<std::string> keys;
};

TEST_F(Captions, EveryKeyNamesADesignedTextOfTheWindow) {
  ASSERT_GT(keys.size(), 50u);
  for (const std::string& key : keys) {
    const std::string control = ControlOf(key);
    EXPECT_EQ(kMappedElsewhere.count(control), 0u) << key << " is set from another section";
    const ui::Control* c = window->controls.Find(control);
    if (c == nullptr) {
      ADD_FAILURE() << key << ": no such control";
      continue;
    }
    // The key's spelling must be the control's own, not merely equal without case.
    EXPECT_EQ(control, c->Name()) << key;
    EXPECT_EQ(designed.count(key), 1u) << key << ": no such item, heading or hint (items "
                                       << c->Items().size() << ", columns " << c->Cols() << ")";
    EXPECT_FALSE(Exempt(key)) << key << " is replaced while the program runs";
  }
}

TEST_F(Captions, TheRussianHalfIsTheDesignedTextAndTheEnglishHalfIsEnglish) {
  for (const std::string& key : keys) {
    const std::string value = doc.Get("Captions", key).value_or("");
    ASSERT_NE(value.find("//\\"), std::string::npos) << key;
    const std::string english = ui::ReadLangStr(value, "english");
    EXPECT_FALSE(english.empty()) << key;
    EXPECT_FALSE(HasCyrillic(english)) << key << ": " << english;
    auto it = designed.find(key);
    if (it == designed.end()) continue;  // reported above
    EXPECT_EQ(ui::ReadLangStr(value, "russian"), it->second.text) << key;
  }
}

TEST_F(Captions, EveryDesignedRussianTextHasAKey) {
  std::set<std::string> present(keys.begin(), keys.end());
  std::ostringstream missing;
  for (const auto& [key, designed_text] : designed) {
    if (!HasCyrillic(designed_text.text) || kMappedElsewhere.count(designed_text.control) > 0) continue;
    if (Exempt(key) || present.count(key) > 0) continue;
    missing << key << "=" << designed_text.text << "//\\ \n";
  }
  EXPECT_EQ(missing.str(), "") << "designed Russian texts without an English one";
}

TEST_F(Captions, RunTimeExemptionsStillNameRussianTexts) {
  // An exemption that no longer matches a designed Russian text hides nothing
  // and is dropped.
  for (const auto& [key, why] : kRunTimeTexts) {
    bool used = false;
    for (const auto& [designed_key, designed_text] : designed) {
      if ((designed_key == key || ControlOf(designed_key) + Group(designed_key) == key) &&
          HasCyrillic(designed_text.text)) {
        used = true;
      }
    }
    EXPECT_TRUE(used) << key << " (" << why << ")";
  }
}

TEST_F(Captions, TheToggleShowsEveryKeyInEnglishAndTheDesignAgainOnTheWayBack) {
  // The shipped file in the user's data folder, read by the window's own start-up.
  env.dir.Write("language.lng", ReadFile(RLVEXA_SOURCE_DIR "/data/language.lng"));
  window->FormCreate();
  window->FormShow();
  ASSERT_TRUE(window->controls.UserClick("LangImage"));
  ASSERT_EQ(window->messages.LanguageName, "english");
  for (const std::string& key : keys) {
    if (window->controls.Find(ControlOf(key)) == nullptr || designed.count(key) == 0) continue;
    EXPECT_EQ(Shown(key), ui::ReadLangStr(doc.Get("Captions", key).value_or(""), "english")) << key;
  }
  ASSERT_TRUE(window->controls.UserClick("LangImage"));
  for (const std::string& key : keys) {
    auto it = designed.find(key);
    if (it == designed.end()) continue;
    EXPECT_EQ(Shown(key), it->second.text) << key;
  }
}

// The password prompt and the confirmation question set their texts each time
// they open: after a switch to English they must not come back in Russian.
TEST(CaptionsAtRunTime, ThePromptAndTheQuestionSpeakTheLanguageShown) {
  sim::SimConfig locked;
  locked.password = 1234;
  fake::World world(locked);
  world.w().link.AutoReadConfig = false;
  world.env.dir.Write("language.lng", ReadFile(RLVEXA_SOURCE_DIR "/data/language.lng"));
  world.Start();
  world.env.clock.RunUntil([&] { return world.w().link.Connected; }, 3000);
  world.env.clock.Advance(20);
  ui::ControlModel& c = world.w().controls;
  ASSERT_TRUE(c.UserClick("LangImage"));
  ASSERT_TRUE(c.UserClick("DeleteTrack"));
  EXPECT_EQ(c["PageControlMes"].Index(), 2);
  EXPECT_EQ(c["Label31"].Text(), "Do you really want to do this?");
  // The locked tracker refuses the erase and asks for its password.
  ASSERT_TRUE(c.UserClick("Button3"));
  world.env.clock.Advance(200);
  ASSERT_TRUE(c["MESPANEL"].Visible());
  ASSERT_EQ(c["PageControlMes"].Index(), 1);
  EXPECT_EQ(c["Label20"].Text(), "Enter the password");
  ASSERT_TRUE(c.UserClick("Button2"));

  ASSERT_TRUE(c.UserClick("LangImage"));
  ASSERT_TRUE(c.UserClick("DeleteTrack"));
  EXPECT_EQ(c["Label31"].Text(), "Вы действительно хотите выполнить данную операцию!");
}

}  // namespace
}  // namespace rlv
