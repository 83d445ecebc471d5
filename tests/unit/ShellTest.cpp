// The main window's shell: menu, title bar, help line and help editor, the
// tracker password exchange, the confirmation question and the IMEI copy.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "TrackerSim.h"
#include "World.h"
#include "platform/IniFile.h"
#include "ui/Automation.h"
#include "ui/HelpEditor.h"
#include "ui/Messages.h"
#include "ui/Shell.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;
using ui::HelpEditor;
using ui::Shell;

constexpr const char* kImei = "866000000000001";
constexpr uint16_t kPassword = 1234;  // 0x04D2

std::string ShippedLanguageFile() {
  std::ifstream in(RLVEXA_SOURCE_DIR "/data/language.lng", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

sim::SimConfig Locked(uint16_t password) {
  sim::SimConfig config;
  config.password = password;
  return config;
}

// A configurator connected to a simulated tracker; the automatic read after the
// first device status is off unless asked for.
struct Tracker : fake::World {
  explicit Tracker(uint16_t password = 0, bool auto_read = false) : World(Locked(password)) {
    w().link.AutoReadConfig = auto_read;
    Start();
    env.clock.RunUntil([&] { return w().link.Connected; }, 3000);
    env.clock.Advance(20);
    mark = env.serial.Writes().size();
    shown.clear();
  }
  void Settle(int ms = 200) { env.clock.Advance(ms); }
  // Requests written since `mark`, without the status polls.
  std::vector<int> Requests() const {
    std::vector<int> out;
    for (int command : SentCommands(mark)) {
      if (command != 34 && command != 41) out.push_back(command);
    }
    return out;
  }
  // The payloads of every password request written since `mark`.
  std::vector<Bytes> PasswordsSent() const {
    std::vector<Bytes> out;
    const auto& writes = env.serial.Writes();
    for (size_t i = mark; i < writes.size(); ++i) {
      const Bytes& b = writes[i].bytes;
      if (b.size() >= 12 && b[7] == Shell::kCmdPassword) out.push_back({b[8], b[9]});
    }
    return out;
  }
  // The tracker's IMEI reaches the transfer through its device record.
  void Remember(int password) {
    env.clock.RunUntil([&] { return !w().transfer.TrackerImei.empty(); }, 2000);
    ASSERT_EQ(w().transfer.TrackerImei, kImei);
    ASSERT_TRUE(w().settings.WritePass(kImei, password));
  }
  bool PromptShown() {
    return w().controls["MESPANEL"].Visible() && w().controls["PageControlMes"].Index() == 1;
  }
  size_t mark = 0;
};

// ---- Menu ------------------------------------------------------------------------

TEST(Menu, HoverEnlargesTheButtonAndShowsItsHelp) {
  fake::World world;
  world.env.dir.Write("language.lng", ShippedLanguageFile());
  world.Start();
  auto& c = world.w().controls;
  ASSERT_TRUE(c.UserMouseMove("MImage3"));
  EXPECT_EQ(c["MImage3"].Geometry().width, 50);
  EXPECT_EQ(c["MImage3"].Geometry().height, 50);
  EXPECT_EQ(c["MImage3"].Geometry().left, 208);
  EXPECT_EQ(c["HelpLabel"].Text(),
            "Удаленное конфигурирование: трекер подключается к этому компьютеру по GPRS через локальный "
            "TCP-порт. Здесь же включается прозрачный режим.");
  EXPECT_EQ(world.w().shell.HelpKey, "MImage3");
  EXPECT_EQ(world.w().shell.HelpCaption, "");  // a picture has no caption
  ASSERT_TRUE(c.UserMouseLeave("MImage3"));
  EXPECT_EQ(c["MImage3"].Geometry().width, 48);
  EXPECT_EQ(c["MImage3"].Geometry().height, 48);

  c.UserMouseMove("MImage3");
  ASSERT_TRUE(c.UserMouseDown("MImage3"));
  EXPECT_EQ(c["MImage3"].Geometry().width, 48);

  world.w().messages.LanguageName = "english";
  c.UserMouseMove("MImage5");
  EXPECT_EQ(c["HelpLabel"].Text(), "Main settings of the tracker configuration.");
  EXPECT_EQ(c["MImage5"].Geometry().width, 50);
  EXPECT_EQ(c["MImage3"].Geometry().width, 48);
}

TEST(Menu, ButtonsSwitchPagesAndDisabledOnesIgnoreClicks) {
  fake::World world;
  world.Start();
  auto& w = world.w();
  auto& c = w.controls;
  // No tracker yet: the tracker's entries are disabled.
  for (const char* name : {"MImage4", "MImage6", "MImage7", "MImage8", "MImage9"}) {
    EXPECT_FALSE(c.UserClick(name)) << name;
  }
  EXPECT_EQ(w.shell.LastOperation, Shell::kNoOperation);
  EXPECT_TRUE(world.env.serial.Writes().empty());
  EXPECT_EQ(c["RzPageControl1"].Index(), 0);

  EXPECT_TRUE(c.UserClick("MImage3"));
  EXPECT_EQ(c["RzPageControl1"].Index(), 5);
  EXPECT_TRUE(c.UserClick("MImage10"));
  EXPECT_EQ(c["RzPageControl1"].Index(), 6);
  EXPECT_TRUE(c.UserClick("MImage5"));
  EXPECT_EQ(c["RzPageControl1"].Index(), 0);
  w.shell.SelectPage(7);
  EXPECT_EQ(c["RzPageControl1"].Index(), -1);
  EXPECT_TRUE(c.UserClick("MImage0"));
  EXPECT_EQ(c["RzPageControl1"].Index(), 0);
  for (int i = 0; i <= 10; ++i) EXPECT_EQ(c["MImage" + std::to_string(i)].Tag(), i);
}

TEST(Menu, TrackerEntriesRecordTheLastOperation) {
  Tracker t;
  auto& c = t.w().controls;
  EXPECT_TRUE(c.UserClick("MImage4"));
  EXPECT_EQ(c["RzPageControl1"].Index(), 1);
  EXPECT_TRUE(c.UserClick("MImage9"));
  EXPECT_EQ(c["RzPageControl1"].Index(), 4);
  EXPECT_TRUE(c.UserClick("MImage7"));
  EXPECT_EQ(t.w().shell.LastOperation, Shell::kOpReadConfig);
  t.Settle(400);
  EXPECT_EQ(t.Requests(), (std::vector<int>{32, 32}));
  EXPECT_TRUE(c.UserClick("MImage8"));
  EXPECT_EQ(t.w().shell.LastOperation, Shell::kOpRestart);
  EXPECT_EQ(t.Requests(), (std::vector<int>{32, 32, 4}));
}

// ---- Title bar -------------------------------------------------------------------

TEST(TitleBar, MoveMinimiseAndCloseAreRequestsToTheFrontEnd) {
  fake::World world;
  world.Start();
  auto& w = world.w();
  auto& c = w.controls;
  std::vector<Shell::WindowRequest> seen;
  w.shell.OnWindowRequest = [&](Shell::WindowRequest r) { seen.push_back(r); };
  const ui::Rect before = c["MainForm"].Geometry();
  c.UserDblClick("Panel9");
  EXPECT_EQ(c["MainForm"].Geometry().width, before.width);
  EXPECT_EQ(c["MainForm"].Geometry().height, before.height);
  EXPECT_TRUE(seen.empty());

  c.UserMouseDown("Panel9");
  EXPECT_TRUE(w.shell.MoveRequested);
  c.UserClick("MinzImage");
  EXPECT_TRUE(w.shell.MinimizeRequested);
  EXPECT_FALSE(w.Closed());
  c.UserClick("CloseImage");
  EXPECT_TRUE(w.shell.CloseRequested);
  EXPECT_TRUE(w.Closed());
  EXPECT_EQ(seen,
            (std::vector<Shell::WindowRequest>{Shell::WindowRequest::Move, Shell::WindowRequest::Minimize,
                                               Shell::WindowRequest::Close}));
}

// ---- Help line ---------------------------------------------------------------------

TEST(HelpLine, ListsEveryControlOnceAndTheShippedFileExplainsEach) {
  const auto names = Shell::HelpLineControls();
  ASSERT_EQ(names.size(), 243u);
  std::set<std::string_view> unique(names.begin(), names.end());
  EXPECT_EQ(unique.size(), 243u);
  const auto doc = platform::IniDocument::Parse(ShippedLanguageFile());
  for (std::string_view name : names) {
    auto value = doc.Get("Help", name);
    ASSERT_TRUE(value.has_value()) << name;
    EXPECT_NE(value->find("//\\"), std::string::npos) << name;
  }
}

TEST(HelpLine, EveryDeclaredListedControlExplainsItself) {
  fake::World world;
  const std::string text = ShippedLanguageFile();
  world.env.dir.Write("language.lng", text);
  world.Start();
  const auto doc = platform::IniDocument::Parse(text);
  auto& w = world.w();
  size_t bound = 0;
  std::string last;
  for (std::string_view view : Shell::HelpLineControls()) {
    const std::string name(view);
    if (w.controls.Find(name) == nullptr) continue;
    ++bound;
    last = name;
    w.controls["HelpLabel"].SetText("");
    ASSERT_TRUE(w.controls.UserMouseMove(name));
    EXPECT_EQ(w.shell.HelpKey, name);
    EXPECT_EQ(w.controls["HelpLabel"].Text(),
              HelpEditor::DecodeLineBreaks(ui::ReadLangStr(doc.Get("Help", name).value_or(""), "russian")))
        << name;
    w.controls.UserMouseLeave(name);
  }
  // At least the menu and the shell's own controls on the monitoring page.
  EXPECT_GE(bound, 14u);
  // A control outside the list leaves the help line as it is.
  w.controls.UserMouseMove("OKMES");
  EXPECT_EQ(w.shell.HelpKey, last);
}

TEST(HelpLine, WithoutAHelpEntryTheControlNameIsShown) {
  fake::World world;
  world.env.dir.Write("language.lng", "[Help]\nMImage0=Новая//\\ New\n");
  world.Start();
  auto& w = world.w();
  w.controls.UserMouseMove("LIMEI");
  EXPECT_EQ(w.controls["HelpLabel"].Text(), "LIMEI");
  EXPECT_EQ(w.shell.HelpCaption, "IMEI:");  // a label offers its caption
  w.messages.LanguageName = "english";
  w.controls.UserMouseMove("DeleteTrack");
  EXPECT_EQ(w.controls["HelpLabel"].Text(), "DeleteTrack");
  EXPECT_EQ(w.shell.HelpCaption, "Удалить трек");
  w.controls.UserMouseMove("MImage0");
  EXPECT_EQ(w.controls["HelpLabel"].Text(), "New");

  // A radio group offers its own caption, not its selected item.
  ui::Control& group = w.controls.Add("RadioProbe", ui::Kind::RadioGroup, "TabSheet1");
  group.SetText("Выберите действие");
  group.SetItems({"Загрузить", "Загрузить и обновить"});
  group.SetIndex(1);
  w.shell.MouseMoveHelp("RadioProbe");
  EXPECT_EQ(w.shell.HelpCaption, "Выберите действие");
  EXPECT_EQ(group.Text(), "Загрузить и обновить");
}

// ---- Help editor -------------------------------------------------------------------

const char* const kEditorLanguage =
    "; translators' notes stay\n"
    "[Strings]\n"
    "Str0=Копировать//\\ Copy\n"
    "Str7=IMEI://\\ IMEI:\n"
    "[Help]\n"
    "LIMEI=Первая строка\\nвторая//\\ First line\\nsecond\n"
    "MImage3=Удаленно//\\ Remote\n";

struct Editor : fake::World {
  Editor() {
    env.dir.Write("language.lng", kEditorLanguage);
    Start();
  }
  ui::ControlModel& c() { return w().controls; }
  platform::IniDocument File() const { return platform::IniDocument::Parse(env.dir.Read("language.lng")); }
};

TEST(HelpEditor, AltHOpensItModallyWithTheRawBilingualValue) {
  Editor e;
  auto& c = e.c();
  EXPECT_FALSE(c[HelpEditor::kForm].Visible());
  c.UserMouseMove("LIMEI");
  EXPECT_EQ(c["HelpLabel"].Text(), "Первая строка\nвторая");

  e.env.hotkeys.Press(126);
  EXPECT_TRUE(c[HelpEditor::kForm].Visible());
  EXPECT_TRUE(e.w().help_editor.IsModal());
  EXPECT_EQ(c[HelpEditor::kMemo].Text(), "Первая строка\nвторая//\\ First line\nsecond");
  EXPECT_EQ(c[HelpEditor::kMemo].Lines().size(), 3u);
  EXPECT_EQ(c[HelpEditor::kCaptionRow].Geometry().height, 25);
  EXPECT_EQ(c[HelpEditor::kCaptionEdit].Text(), "IMEI://\\ IMEI:");
  EXPECT_EQ(e.w().help_editor.HelpCaptionIndex, 7);
  // Centred over the main window.
  EXPECT_EQ(c[HelpEditor::kForm].Geometry().left, (747 - 598) / 2);
  EXPECT_EQ(c[HelpEditor::kForm].Geometry().top, (699 - 234) / 2);

  // The main window takes no input meanwhile.
  EXPECT_FALSE(c.UserClick("MImage3"));
  c.UserMouseMove("MImage3");
  EXPECT_EQ(e.w().shell.HelpKey, "LIMEI");
  EXPECT_EQ(c["MImage3"].Geometry().width, 48);
  e.env.hotkeys.Press(126);  // already open: nothing changes
  EXPECT_EQ(c[HelpEditor::kMemo].Lines().size(), 3u);
}

TEST(HelpEditor, OkWritesTheHelpAndTheMatchedCaption) {
  Editor e;
  auto& c = e.c();
  c.UserMouseMove("LIMEI");
  e.w().OnHotKey(126);
  ASSERT_TRUE(c.UserType(HelpEditor::kMemo, "Новая\r\nстрока//\\ New\nline"));
  ASSERT_TRUE(c.UserType(HelpEditor::kCaptionEdit, "ИМЕЙ://\\ IMEI:"));
  ASSERT_TRUE(c.UserClick(HelpEditor::kOkButton));
  EXPECT_FALSE(c[HelpEditor::kForm].Visible());
  EXPECT_FALSE(e.w().help_editor.IsOpen());
  EXPECT_TRUE(c["MainForm"].Enabled());

  const std::string text = e.env.dir.Read("language.lng");
  EXPECT_NE(text.find("LIMEI=Новая\\nстрока//\\ New\\nline\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Str7=ИМЕЙ://\\ IMEI:\n"), std::string::npos) << text;
  EXPECT_EQ(text.rfind("; translators' notes stay\n", 0), 0u);
  EXPECT_EQ(e.File().Get("Strings", "Str0"), "Копировать//\\ Copy");
  EXPECT_EQ(e.File().Get("Help", "MImage3"), "Удаленно//\\ Remote");

  // The next mouse movement shows the new text, line breaks and all.
  c.UserMouseMove("LIMEI");
  EXPECT_EQ(c["HelpLabel"].Text(), "Новая\nстрока");
  e.w().messages.LanguageName = "english";
  c.UserMouseMove("LIMEI");
  EXPECT_EQ(c["HelpLabel"].Text(), "New\nline");
}

TEST(HelpEditor, AControlWithoutCaptionCollapsesTheCaptionRow) {
  Editor e;
  auto& c = e.c();
  c[HelpEditor::kCaptionEdit].SetText("left over");
  c.UserMouseMove("MImage3");
  e.w().OnHotKey(126);
  EXPECT_EQ(c[HelpEditor::kCaptionRow].Geometry().height, 1);
  EXPECT_EQ(c[HelpEditor::kCaptionEdit].Text(), "");
  EXPECT_EQ(c[HelpEditor::kMemo].Text(), "Удаленно//\\ Remote");
  c.UserType(HelpEditor::kMemo, "  blanks kept  ");
  c.UserClick(HelpEditor::kOkButton);
  EXPECT_EQ(e.File().Get("Help", "MImage3"), "  blanks kept  ");
  EXPECT_EQ(e.File().Get("Strings", "Str7"), "IMEI://\\ IMEI:");
}

TEST(HelpEditor, ACaptionMatchingNoStringKeepsTheEditAndWritesOnlyTheHelp) {
  Editor e;
  auto& c = e.c();
  c[HelpEditor::kCaptionEdit].SetText("previous text");
  c.UserMouseMove("DeleteTrack");  // "Удалить трек" is no [Strings] text here
  e.w().OnHotKey(126);
  EXPECT_EQ(c[HelpEditor::kCaptionRow].Geometry().height, 25);
  EXPECT_EQ(c[HelpEditor::kCaptionEdit].Text(), "previous text");
  EXPECT_EQ(e.w().help_editor.HelpCaptionIndex, -1);
  EXPECT_EQ(c[HelpEditor::kMemo].Text(), "DeleteTrack");  // no entry yet: the name
  c.UserType(HelpEditor::kMemo, "Удалить//\\ Delete");
  c.UserClick(HelpEditor::kOkButton);
  const auto file = e.File();
  EXPECT_EQ(file.Get("Help", "DeleteTrack"), "Удалить//\\ Delete");
  EXPECT_EQ(file.Keys("Strings"), (std::vector<std::string>{"Str0", "Str7"}));
  EXPECT_EQ(file.Get("Strings", "Str7"), "IMEI://\\ IMEI:");
}

TEST(HelpEditor, TheCloseButtonClosesWithoutWriting) {
  Editor e;
  auto& c = e.c();
  const std::string before = e.env.dir.Read("language.lng");
  c.UserMouseMove("LIMEI");
  e.w().OnHotKey(126);
  c.UserType(HelpEditor::kMemo, "thrown away");
  ASSERT_TRUE(c.UserClick(HelpEditor::kCloseImage));
  EXPECT_FALSE(c[HelpEditor::kForm].Visible());
  EXPECT_TRUE(c["MainForm"].Enabled());
  EXPECT_EQ(e.env.dir.Read("language.lng"), before);
  EXPECT_TRUE(c.UserClick("MImage3"));
}

// The INI service of the test: reads the real files, never manages to write.
class ReadOnlyIni : public platform::IIniFiles {
 public:
  std::optional<platform::IniDocument> Load(const std::string& path, std::string* why) override {
    return real_.Load(path, why);
  }
  bool Store(const std::string&, const platform::IniDocument&, std::string*) override { return false; }

 private:
  platform::StdIniFiles real_;
};

TEST(HelpEditor, AFailedWriteKeepsTheFileAndTheEditorOpen) {
  Editor e;
  auto& c = e.c();
  const std::string before = e.env.dir.Read("language.lng");
  c.UserMouseMove("LIMEI");
  e.w().OnHotKey(126);
  ReadOnlyIni read_only;
  e.env.platform.ini = &read_only;
  c.UserType(HelpEditor::kMemo, "not written");
  c.UserClick(HelpEditor::kOkButton);
  EXPECT_TRUE(c[HelpEditor::kForm].Visible());
  EXPECT_EQ(e.env.dialogs.Boxes(), std::vector<std::string>{"Message46"});
  EXPECT_EQ(e.env.dir.Read("language.lng"), before);
  e.env.platform.ini = &e.env.ini;
  c.UserClick(HelpEditor::kOkButton);
  EXPECT_FALSE(c[HelpEditor::kForm].Visible());
  EXPECT_EQ(e.File().Get("Help", "LIMEI"), "not written");
}

TEST(HelpEditor, NothingOpensBeforeTheMouseMovedAndOtherHotKeysDoNothing) {
  Editor e;
  auto& c = e.c();
  e.env.hotkeys.Press(126);
  EXPECT_FALSE(c[HelpEditor::kForm].Visible());
  c.UserMouseMove("LIMEI");
  e.env.hotkeys.Press(125);
  e.env.hotkeys.Press(127);
  EXPECT_FALSE(c[HelpEditor::kForm].Visible());
  EXPECT_FALSE(c["MESPANEL"].Visible());
  EXPECT_TRUE(e.env.dialogs.Boxes().empty());
  e.w().FormDestroy();
  EXPECT_TRUE(e.env.hotkeys.registered.empty());
}

TEST(HelpEditor, LineBreaksAreStoredAsBackslashN) {
  EXPECT_EQ(HelpEditor::EncodeLineBreaks("a\r\nb\nc"), "a\\nb\\nc");
  EXPECT_EQ(HelpEditor::DecodeLineBreaks("a\\nb\\nc"), "a\nb\nc");
  // The language separator is left alone.
  EXPECT_EQ(HelpEditor::DecodeLineBreaks("Да//\\ Yes"), "Да//\\ Yes");
  for (const char* value : {"Да//\\nYes", "x\\", "\\n\\n", ""}) {
    EXPECT_EQ(HelpEditor::EncodeLineBreaks(HelpEditor::DecodeLineBreaks(value)), value);
  }
}

// ---- Password exchange ---------------------------------------------------------

TEST(Password, ARememberedPasswordIsSentWithoutAPrompt) {
  Tracker t(kPassword);
  t.Remember(kPassword);
  auto& c = t.w().controls;
  c.UserClick("DeleteTrack");
  c.UserClick("Button3");
  t.Settle();
  EXPECT_EQ(t.PasswordsSent(), std::vector<Bytes>{(Bytes{0xD2, 0x04})});
  EXPECT_EQ(t.Requests(), (std::vector<int>{38, 37, 38}));
  EXPECT_EQ(t.sim.TrackDeleteCount(), 1);
  // Accepted: message 43, then the deletion again without a second question.
  EXPECT_EQ(t.shown, (std::vector<std::string>{"Message43", "Message9"}));
  EXPECT_EQ(t.w().settings.ReadPass(kImei), kPassword);
}

TEST(Password, ARejectedRememberedPasswordIsForgottenAndTheNextRefusalAsks) {
  Tracker t(kPassword);
  t.Remember(4321);
  auto& c = t.w().controls;
  c.UserClick("DeleteTrack");
  c.UserClick("Button3");
  t.Settle();
  EXPECT_EQ(t.PasswordsSent(), std::vector<Bytes>{(Bytes{0xE1, 0x10})});
  EXPECT_EQ(t.shown, std::vector<std::string>{"Message42"});
  EXPECT_EQ(t.w().settings.ReadPass(kImei), 0);
  EXPECT_NE(t.env.dir.Read("config.ini").find(std::string(kImei) + "=0"), std::string::npos);
  EXPECT_FALSE(t.PromptShown());

  c.UserClick("DeleteTrack");
  c.UserClick("Button3");
  t.Settle();
  EXPECT_TRUE(t.PromptShown());
  EXPECT_EQ(c["Label20"].Text(), "Введите пароль");
  EXPECT_EQ(c["PassEdit"].Text(), "0");
  EXPECT_EQ(c.Focused(), "PassEdit");
  EXPECT_EQ(t.PasswordsSent().size(), 1u);
}

TEST(Password, TheTypedPasswordIsSentAndTheOperationRepeated) {
  Tracker t(kPassword);
  auto& c = t.w().controls;
  c.UserClick("DeleteTrack");
  c.UserClick("Button3");
  t.Settle();
  ASSERT_TRUE(t.PromptShown());
  c.UserType("PassEdit", "1234");
  c.UserClick("PassButOK");
  EXPECT_FALSE(c["MESPANEL"].Visible() && c["PageControlMes"].Index() == 1);
  t.Settle();
  EXPECT_EQ(t.PasswordsSent(), std::vector<Bytes>{(Bytes{0xD2, 0x04})});
  EXPECT_EQ(t.Requests(), (std::vector<int>{38, 37, 38}));
  EXPECT_EQ(t.sim.TrackDeleteCount(), 1);
  EXPECT_EQ(t.shown.back(), "Message9");
  // Nothing is remembered by the prompt itself.
  EXPECT_EQ(t.w().settings.ReadPass(kImei), 0);
}

TEST(Password, ANumberAbove65535KeepsItsLow16BitsAndEnterSendsIt) {
  Tracker t(kPassword);
  auto& c = t.w().controls;
  t.w().shell.GetPassword('?');
  ASSERT_TRUE(t.PromptShown());
  c.UserType("PassEdit", std::to_string(65536 + kPassword));
  c.UserKeyPress("PassEdit", '\r');
  t.Settle();
  EXPECT_EQ(t.PasswordsSent(), std::vector<Bytes>{(Bytes{0xD2, 0x04})});
  EXPECT_TRUE(t.sim.Unlocked());

  t.w().shell.GetPassword('?');
  c.UserType("PassEdit", "-1");
  c.UserClick("PassButOK");
  EXPECT_EQ(t.PasswordsSent().back(), (Bytes{0xFF, 0xFF}));
}

TEST(Password, TextThatIsNoIntegerShowsTheConversionErrorAndKeepsThePrompt) {
  Tracker t(kPassword);
  auto& c = t.w().controls;
  t.w().shell.GetPassword('?');
  for (const char* text : {"12a", "", "99999999999", "1 2"}) {
    c.UserType("PassEdit", text);
    c.UserClick("PassButOK");
    EXPECT_TRUE(t.PromptShown()) << text;
    EXPECT_EQ(t.env.dialogs.Boxes().back(), "'" + std::string(text) + "' is not a valid integer value");
  }
  EXPECT_EQ(t.env.dialogs.Boxes().size(), 4u);
  t.Settle();
  EXPECT_TRUE(t.PasswordsSent().empty());
  c.UserType("PassEdit", " 1234 ");
  c.UserClick("PassButOK");
  EXPECT_EQ(t.PasswordsSent().size(), 1u);
}

TEST(Password, CancelDropsTheRefusedOperation) {
  Tracker t(kPassword);
  auto& c = t.w().controls;
  c.UserClick("DeleteTrack");
  c.UserClick("Button3");
  t.Settle();
  ASSERT_TRUE(t.PromptShown());
  c.UserClick("Button2");
  EXPECT_FALSE(c["MESPANEL"].Visible());
  t.Settle();
  EXPECT_EQ(t.Requests(), std::vector<int>{38});
}

TEST(Password, AnAcceptedPasswordRepeatsTheLastOperation) {
  Tracker t;
  auto& shell = t.w().shell;
  shell.LastOperation = Shell::kNoOperation;
  shell.GetPassword('1');
  shell.LastOperation = 99;
  shell.GetPassword('1');
  EXPECT_TRUE(t.Requests().empty());
  shell.LastOperation = Shell::kOpDeleteTrack;
  shell.GetPassword('1');
  EXPECT_EQ(t.Requests(), std::vector<int>{38});
  shell.LastOperation = Shell::kOpRestart;
  shell.GetPassword('1');
  EXPECT_EQ(t.Requests(), (std::vector<int>{38, 4}));
  EXPECT_EQ(t.shown.front(), "Message43");
  shell.GetPassword('x');  // not a verdict: nothing
  EXPECT_EQ(t.Requests(), (std::vector<int>{38, 4}));
}

TEST(Password, TheAutomaticReadIsRepeatedAfterTheRememberedPassword) {
  fake::World world(Locked(kPassword));
  // Remembered under the IMEI that the simulated tracker's device record carries.
  ASSERT_EQ(world.sim.Config().imei, kImei);
  world.env.dir.Write("config.ini",
                      "[Passes]\n" + std::string(kImei) + "=" + std::to_string(kPassword) + "\n");
  world.Start();
  world.env.clock.Advance(2500);
  // identify, first poll, the automatic read refused, the password, the read again
  std::vector<int> requests;
  for (int command : world.SentCommands()) {
    if (command != 34 && command != 41) requests.push_back(command);
  }
  EXPECT_EQ(requests, (std::vector<int>{0, 32, 37, 32, 32}));
  EXPECT_EQ(world.w().shell.LastOperation, Shell::kOpReadConfig);
  EXPECT_EQ(world.w().controls["RzPageControl1"].Index(), 0);
}

TEST(Password, AnAcceptedPasswordRepeatsAConfigurationWrite) {
  Tracker t(kPassword);
  auto& c = t.w().controls;
  t.env.clock.RunUntil([&] { return !t.w().transfer.TrackerImei.empty(); }, 2000);
  ASSERT_EQ(t.w().transfer.TrackerImei, kImei);
  // The write remembers the page's password first, so the refusal is answered with it.
  c["CONFPASS"].SetText("1234");
  ASSERT_TRUE(c.UserClick("MImage6"));
  EXPECT_EQ(t.w().shell.LastOperation, Shell::kOpWriteConfig);
  t.Settle(400);
  EXPECT_EQ(t.Requests(), (std::vector<int>{33, 37, 33, 33}));
  EXPECT_FALSE(t.PromptShown());
  EXPECT_EQ(t.sim.Record(0), t.w().config.ConfigBlock1);
  EXPECT_EQ(t.sim.Record(1), t.w().config.ConfigBlock2);
}

// ---- Confirmation question -------------------------------------------------------

TEST(Confirmation, DeletingTheTrackAsksFirst) {
  Tracker t;
  auto& w = t.w();
  auto& c = w.controls;
  ASSERT_TRUE(c.UserClick("DeleteTrack"));
  // Only "Да" makes the erase the operation a password repeats.
  EXPECT_EQ(w.shell.LastOperation, Shell::kNoOperation);
  EXPECT_EQ(w.shell.ConfirmAction, Shell::kConfirmDeleteTrack);
  EXPECT_TRUE(c["MESPANEL"].Visible());
  EXPECT_EQ(c["PageControlMes"].Index(), 2);
  EXPECT_EQ(c["Label31"].Text(), "Вы действительно хотите выполнить данную операцию!");
  c.UserClick("Button4");  // "Нет"
  EXPECT_FALSE(c["MESPANEL"].Visible());
  t.Settle();
  EXPECT_TRUE(t.Requests().empty());

  c.UserClick("DeleteTrack");
  c.UserClick("Button3");  // "Да"
  EXPECT_EQ(w.shell.LastOperation, Shell::kOpDeleteTrack);
  EXPECT_FALSE(c["MESPANEL"].Visible() && c["PageControlMes"].Index() == 2);
  t.Settle();
  EXPECT_EQ(t.Requests(), std::vector<int>{38});
  EXPECT_EQ(t.sim.TrackDeleteCount(), 1);
  EXPECT_EQ(t.shown, std::vector<std::string>{"Message9"});

  w.shell.ConfirmAction = 0;
  c.UserClick("Button3");
  t.Settle();
  EXPECT_EQ(t.Requests(), std::vector<int>{38});
}

// ---- IMEI ------------------------------------------------------------------------

TEST(CopyImei, CopiesWhatFollowsTheFirstColonAndBlank) {
  fake::World world;
  world.Start();
  auto& c = world.w().controls;
  const std::pair<const char*, const char*> cases[] = {
      {"IMEI: 866000000000001", "866000000000001"},
      {"X866000000000001", "866000000000001"},  // no ": ": the first character goes
      {"ЖIMEI", "IMEI"},
      {"IMEI: a: b", "a: b"},
      {"", ""},
      {"IMEI:", "MEI:"},
  };
  for (auto [label, copied] : cases) {
    c["LIMEI"].SetText(label);
    world.env.dialogs.SetText("before");
    ASSERT_TRUE(c.UserClick("CopyIMEI"));
    EXPECT_EQ(world.env.dialogs.Text(), copied) << label;
  }
}

// ---- First showing ----------------------------------------------------------------

TEST(FormShow, CentresTheOverlaysAndPlacesTheFixedPanels) {
  fake::World world;
  world.Start();
  auto& w = world.w();
  auto& c = w.controls;
  EXPECT_TRUE(w.shell.MenuImagesLoaded);
  const ui::Rect& mes = c["MESPANEL"].Geometry();
  EXPECT_EQ(mes.left, (747 - mes.width) / 2);
  EXPECT_EQ(mes.top, (699 - mes.height) / 2);
  for (const char* name : {"PatternPanel", "StructPanel", "DopPanel", "Panel19", "Panel26"}) {
    if (const ui::Control* panel = c.Find(name)) {
      EXPECT_EQ(panel->Geometry().left, (747 - panel->Geometry().width) / 2) << name;
      EXPECT_EQ(panel->Geometry().top, (699 - panel->Geometry().height) / 2) << name;
    }
  }
  EXPECT_EQ(c["NewsPanel"].Geometry().left, 80);
  EXPECT_EQ(c["NewsPanel"].Geometry().top, 120);
  if (const ui::Control* panel = c.Find("Panel28")) {
    EXPECT_EQ(panel->Geometry().left, 463);
    EXPECT_EQ(panel->Geometry().top, 183);
  }
  if (const ui::Control* grid = c.Find("MCCMNCGRID");
      grid != nullptr && grid->Cols() >= 2 && grid->Rows() >= 1) {
    EXPECT_EQ(grid->Cell(0, 0), "MCC");
    EXPECT_EQ(grid->Cell(1, 0), "MNC");
  }
  EXPECT_FALSE(c[HelpEditor::kForm].Visible());
  EXPECT_EQ(c[HelpEditor::kForm].Parent(), "");
}

// ---- Headless automation -----------------------------------------------------------

struct Headless : Tracker {
  Headless() : Tracker(kPassword), automation(w(), env.clock, env.dialogs) {}
  std::string Run(const std::string& line) { return automation.Execute(line); }
  ui::Automation automation;
};

TEST(ShellAutomation, ReadsTheConfigurationThroughThePasswordPrompt) {
  Headless h;
  EXPECT_EQ(h.Run("hover MImage7"), "ok");
  EXPECT_EQ(h.Run("prop MImage7 width"), "ok 50");
  EXPECT_EQ(h.Run("leave MImage7"), "ok");
  EXPECT_EQ(h.Run("click MImage7"), "ok");
  EXPECT_EQ(h.Run("until PageControlMes index 1 1000"), "ok");
  EXPECT_EQ(h.Run("wait 100"), "ok");
  EXPECT_EQ(h.Run("prop PageControlMes index"), "ok 1");
  EXPECT_EQ(h.Run("get PassEdit"), "ok 0");
  EXPECT_EQ(h.Run("type PassEdit 1234"), "ok");
  EXPECT_EQ(h.Run("click PassButOK"), "ok");
  EXPECT_EQ(h.Run("wait 400"), "ok");
  EXPECT_EQ(h.Run("page"), "ok 0");
  EXPECT_EQ(h.Requests(), (std::vector<int>{32, 37, 32, 32}));
  EXPECT_TRUE(h.sim.Unlocked());
}

TEST(ShellAutomation, DeletesTheTrackAndEditsHelp) {
  Headless h;
  EXPECT_EQ(h.Run("click DeleteTrack"), "ok");
  EXPECT_EQ(h.Run("get Label31"), "ok Вы действительно хотите выполнить данную операцию!");
  EXPECT_EQ(h.Run("click Button3"), "ok");
  EXPECT_EQ(h.Run("wait 100"), "ok");
  EXPECT_EQ(h.Run("prop PageControlMes index"), "ok 1");
  EXPECT_EQ(h.Run("type PassEdit abc"), "ok");
  EXPECT_EQ(h.Run("click PassButOK"), "ok");
  EXPECT_EQ(h.Run("boxes"), "ok 'abc' is not a valid integer value");
  EXPECT_EQ(h.Run("type PassEdit 1234"), "ok");
  EXPECT_EQ(h.Run("click PassButOK"), "ok");
  EXPECT_EQ(h.Run("until MESLABEL text Message9 1000"), "ok");
  EXPECT_EQ(h.sim.TrackDeleteCount(), 1);

  EXPECT_EQ(h.Run("hover LIMEI"), "ok");
  EXPECT_EQ(h.Run("hotkey 126"), "ok");
  EXPECT_EQ(h.Run("prop HelpForm visible"), "ok 1");
  EXPECT_EQ(h.Run("get Memo1"), "ok LIMEI");
  EXPECT_EQ(h.Run("click MImage3"), "error: control MImage3 is disabled");
  EXPECT_EQ(h.Run("type Memo1 Строка 1\\nСтрока 2//\\ Line 1\\nLine 2"), "ok");
  EXPECT_EQ(h.Run("click HelpFormButton1"), "ok");
  EXPECT_EQ(h.Run("prop HelpForm visible"), "ok 0");
  EXPECT_EQ(h.Run("hover LIMEI"), "ok");
  EXPECT_EQ(h.Run("get HelpLabel"), "ok Строка 1\\nСтрока 2");
  EXPECT_EQ(platform::IniDocument::Parse(h.env.dir.Read("language.lng")).Get("Help", "LIMEI"),
            "Строка 1\\nСтрока 2//\\ Line 1\\nLine 2");
}

// Every panel closes by its close mark and by Esc, the one over the others
// first: the message panel, the update offer, the news, then the page panels.
TEST(Panels, EscClosesTheTopPanelThenTheNextEachByItsCloseMark) {
  fake::World world({}, false);
  world.env.dir.Write("config.ini", "[Address]\nServerAdr=srv\n");
  world.env.network.Listen("srv", 10500, [](std::shared_ptr<fake::FakePeer> peer) {
    peer->on_receive = [](fake::FakePeer& p, const Bytes&) {
      if (p.ReceivedText() == "Get_CONFUPD:Vexa#") p.Send("ConfiguratorRLvexa_v9.9.9.9.exe");
      if (p.ReceivedText() == "+++GetNews+++") p.Send("#News#Hello");
    };
  });
  world.Start();
  world.env.clock.Advance(11500);
  ui::ControlModel& c = world.w().controls;
  ASSERT_TRUE(c.UserClick("Button8"));
  ASSERT_TRUE(c.UserSelect("TRACKTYPE", 2));
  ASSERT_TRUE(c.UserSelect("CANBUSMODE", 1));
  ASSERT_TRUE(c.UserClick("EditPattern"));
  ASSERT_TRUE(c.UserClick("UploadConfigButton"));  // no IMEI: a message
  const std::vector<std::pair<std::string, std::string>> panels = {
      {"MESPANEL", "OKMES"},      {"Panel32", "Image4"},     {"NewsPanel", "NewsClose"},
      {"PatternPanel", "Image2"}, {"StructPanel", "Image3"}, {"DopPanel", "Image5"}};
  for (const auto& [panel, close] : panels) {
    ASSERT_TRUE(c[panel].Visible()) << panel;
    EXPECT_EQ(c[close].Parent().rfind(panel == "MESPANEL" ? "MesPage" : panel, 0), 0u) << close;
  }
  for (size_t closed = 0; closed < panels.size(); ++closed) {
    ASSERT_TRUE(c.UserKeyUp("MainForm", 27));
    for (size_t i = 0; i < panels.size(); ++i) {
      EXPECT_EQ(c[panels[i].first].Visible(), i > closed) << panels[i].first << " after Esc " << closed + 1;
    }
  }
}

}  // namespace
}  // namespace rlv
