// The window's texts from the language file and the Russian-English toggle:
// what it changes (every caption, hint, item and heading it names), what it
// keeps (everything typed, selected, ticked or shown as state), and what it
// never does (send to the tracker, write a file).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <set>

#include "FakeNetwork.h"
#include "ShippedFiles.h"
#include "World.h"
#include "link/Bytes.h"
#include "platform/IniFile.h"

namespace rlv {
namespace {

using ui::Control;
using ui::Kind;

// The texts of the window: captions, hints, items and grid headings.
std::map<std::string, std::string> Texts(const ui::ControlModel& m) {
  std::map<std::string, std::string> out;
  for (const Control* c : m.All()) {
    const bool value = c->GetKind() == Kind::Edit || c->GetKind() == Kind::Memo;
    if (!value) out[c->Name()] = c->Caption();
    out[c->Name() + ".Hint"] = c->Hint();
    if (c->GetKind() != Kind::Memo && c->GetKind() != Kind::Chart) {
      for (size_t i = 0; i < c->Items().size(); ++i)
        out[c->Name() + ".Item" + std::to_string(i)] = c->Items()[i];
    }
    if (c->GetKind() == Kind::Grid && c->Rows() > 0) {
      for (int col = 0; col < c->Cols(); ++col)
        out[c->Name() + ".Col" + std::to_string(col)] = c->Cell(col, 0);
    }
    if (c->GetKind() == Kind::CheckTree) {
      for (size_t i = 0; i < c->Nodes().size(); ++i)
        out[c->Name() + ".Node" + std::to_string(i)] = c->Nodes()[i].text;
    }
  }
  return out;
}

// What the engineer entered: texts of edits, selections, check marks, grid
// data cells and tree ticks.
std::map<std::string, std::string> Values(const ui::ControlModel& m) {
  std::map<std::string, std::string> out;
  for (const Control* c : m.All()) {
    switch (c->GetKind()) {
      case Kind::Edit:
        out[c->Name()] = c->Text();
        break;
      case Kind::ComboBox:
      case Kind::ListBox:
      case Kind::RadioGroup:
        out[c->Name()] = std::to_string(c->Index()) + (c->Index() < 0 ? "|" + c->Text() : "");
        break;
      case Kind::CheckBox:
        out[c->Name()] = c->Checked() ? "1" : "0";
        break;
      case Kind::Grid:
        for (int row = 1; row < c->Rows(); ++row) {
          for (int col = 0; col < c->Cols(); ++col) {
            out[c->Name() + "[" + std::to_string(col) + "," + std::to_string(row) + "]"] = c->Cell(col, row);
          }
        }
        break;
      case Kind::CheckTree:
        for (const ui::TreeNode& n : c->Nodes()) {
          out[c->Name() + "#" + std::to_string(n.kind) + "/" + std::to_string(n.tag) + "/" +
              n.text.substr(0, 0)] += n.checked ? "1" : "0";
        }
        break;
      default:
        break;
    }
  }
  return out;
}

std::string Lang(const platform::IniDocument& doc, const char* section, const std::string& key,
                 const char* language) {
  return ui::ReadLangStr(doc.Get(section, key).value_or(""), language);
}

struct Shipped : fake::World {
  explicit Shipped(bool plugged = false, const std::string& ini = "", bool start = true)
      : fake::World({}, plugged) {
    if (!ini.empty()) env.dir.Write("config.ini", ini);
    env.dir.Write("language.lng", fake::ShippedLanguageFile());
    doc = platform::IniDocument::Parse(fake::ShippedLanguageFile());
    if (start) Start();
  }
  std::string En(const char* section, const std::string& key) { return Lang(doc, section, key, "english"); }
  std::string Ru(const char* section, const std::string& key) { return Lang(doc, section, key, "russian"); }
  void Toggle() { ASSERT_TRUE(w().controls.UserClick("LangImage")); }
  platform::IniDocument doc;
};

TEST(LanguageToggle, EveryNamedTextTurnsEnglishAndBackByteForByte) {
  Shipped s;
  ui::ControlModel& c = s.w().controls;
  const auto russian = Texts(c);
  EXPECT_EQ(c["LangImage"].Index(), 0);  // the English flag
  EXPECT_EQ(c["Button19"].Text(), s.Ru("Strings", "Str131"));

  s.Toggle();
  EXPECT_EQ(s.w().messages.LanguageName, "english");
  EXPECT_EQ(c["LangImage"].Index(), 1);
  EXPECT_EQ(c["LangImage"].Hint(), s.En("Header", "Lang"));
  EXPECT_EQ(c["MImage6"].Hint(), s.En("Menu", "Load_config"));
  EXPECT_EQ(c["Button19"].Text(), s.En("Strings", "Str131"));
  EXPECT_EQ(c["Label11"].Text(), s.En("Strings", "Str51") + " 1");
  EXPECT_EQ(c["Label12"].Text(), s.En("Strings", "Str51") + " 2");
  EXPECT_EQ(c["TRACKTYPE"].Items()[2], s.En("Strings", "Str123"));
  EXPECT_EQ(c["CANBUSMODE"].Items()[3], s.En("Strings", "Str66") + " 3");
  EXPECT_EQ(c["ModBusStr"].Cell(4, 0), s.En("Strings", "Str50"));
  EXPECT_EQ(c["Label68"].Text(), s.En("Strings", "Str47"));
  EXPECT_EQ(c["OPERATOR"].Items()[5], s.En("OpList", "Op5"));
  EXPECT_EQ(c["RS485DEVICE"].Items()[2], s.En("Device1Type", "Dt2"));
  // Str86 is applied after Str3: the button ends with it, after a toggle as at start.
  EXPECT_EQ(c["Button1"].Text(), s.En("Strings", "Str86"));
  // The monitoring page's captions and the transparent mode's group.
  EXPECT_EQ(c["Label21"].Text(), s.En("Strings", "Str11"));
  EXPECT_EQ(c["Label27"].Text(), s.En("Strings", "Str10"));
  EXPECT_EQ(c["Label25"].Text(), s.En("Strings", "Str18"));
  EXPECT_EQ(c["Label321"].Text(), s.En("Strings", "Str14"));
  EXPECT_EQ(c["Label61"].Text(), s.En("Strings", "Str16"));
  EXPECT_EQ(c["RzGroupBox8"].Text(), s.En("Strings", "Str82"));
  const std::string version = s.w().updates.OwnVersion;
  EXPECT_EQ(c["FormCaption"].Text(),
            s.En("Header", "Caption") + " Kelvane RLVexa v." + version.substr(0, version.size() - 2));
  // The tree is rebuilt from the English names.
  ASSERT_FALSE(c["RzCheckTree1"].Nodes().empty());
  EXPECT_EQ(c["RzCheckTree1"].Nodes()[0].text, s.En("StructBlocks", "Bl0"));
  // The monitoring texts follow.
  EXPECT_EQ(s.w().monitoring.T(0), s.En("Monitoring", "Str0"));

  s.Toggle();
  EXPECT_EQ(s.w().messages.LanguageName, "russian");
  EXPECT_EQ(Texts(c), russian);
}

TEST(LanguageToggle, KeepsEverythingTypedSelectedAndTicked) {
  Shipped s;
  ui::ControlModel& c = s.w().controls;
  // Values a rebuild from the records would lose: a filter edit outside the
  // manual track mode, a long server name, Modbus column 4, a CAN grid edit.
  ASSERT_TRUE(c.UserSelect("TRACKTYPE", 1));
  c["MaxHdop"].SetText("2,5");
  ASSERT_TRUE(c.UserType("SERVERIP", "telematics.example.org:21114"));
  ASSERT_TRUE(c.UserType("UserAPN", "internet.operator.example.com.very.long.apn.name"));
  ASSERT_TRUE(c.UserType("DISPNUMBER", "+79991234567"));
  ASSERT_TRUE(c.UserSelect("OPERATOR", 5));
  ASSERT_TRUE(c.UserSelect("IN1TYPE", 2));
  ASSERT_TRUE(c.UserSelect("RS485DEVICE", 2));
  ASSERT_TRUE(c.UserCheck("CALLSMSFROMALL", false));
  Control& modbus = c["ModBusStr"];
  for (int col = 0; col < 5; ++col) modbus.SetCell(col, 1, std::to_string(7 + col));
  Control& mcc = c["MCCMNCGRID"];
  ASSERT_TRUE(c.UserSetCell("MCCMNCGRID", 0, 2, "250"));
  ASSERT_TRUE(c.UserSetCell("MCCMNCGRID", 1, 2, "99"));
  if (Control* can = c.Find("PatternIDGrid"); can != nullptr && can->Rows() > 1)
    can->SetCell(3, 1, "unsaved");
  Control& tree = c["RzCheckTree1"];
  ASSERT_GT(tree.Nodes().size(), 10u);
  ASSERT_TRUE(c.UserCheckNode("RzCheckTree1", 3, !tree.Nodes()[3].checked));
  ASSERT_TRUE(c.UserCheckNode("RzCheckTree1", 9, !tree.Nodes()[9].checked));
  // Every other edit of every page gets a text of its own.
  int n = 0;
  for (Control* e : c.All()) {
    if (e->GetKind() != Kind::Edit || e->Name() == "MaxHdop") continue;
    if (e->Text().empty() || e->DigitsOnly()) {
      e->SetText(std::to_string(100 + n++));
    }
  }
  const auto before = Values(c);
  const size_t writes = s.env.serial.Writes().size();

  s.Toggle();
  EXPECT_EQ(Values(c), before);
  s.Toggle();
  EXPECT_EQ(Values(c), before);
  EXPECT_EQ(mcc.Cell(0, 2), "250");
  EXPECT_EQ(modbus.Cell(4, 1), "11");
  EXPECT_EQ(s.env.serial.Writes().size(), writes);
}

TEST(LanguageToggle, StateLabelsAreShownAgainInTheNewLanguage) {
  Shipped s;
  ui::ControlModel& c = s.w().controls;
  ASSERT_EQ(c["LConfigPath"].Text(), s.Ru("Messages", "M0"));
  ASSERT_EQ(c["ConfServState"].Text(), s.Ru("Messages", "M138"));
  s.Toggle();
  EXPECT_EQ(c["LConfigPath"].Text(), s.En("Messages", "M0"));
  EXPECT_EQ(c["ConfServState"].Text(), s.En("Messages", "M138"));
  EXPECT_EQ(c["Button1"].Text(), s.En("Strings", "Str86"));

  // The remote server listens: its state and its button stay what they say.
  c["RconfPort"].SetText("0");
  ASSERT_TRUE(c.UserClick("Button1"));
  ASSERT_EQ(c["ConfServState"].Text(), s.En("Messages", "M40"));
  s.Toggle();
  EXPECT_EQ(c["ConfServState"].Text(), s.Ru("Messages", "M40"));
  EXPECT_EQ(c["Button1"].Text(), s.Ru("Strings", "Str54"));
  ASSERT_TRUE(c.UserClick("Button1"));
  EXPECT_EQ(c["ConfServState"].Text(), s.Ru("Messages", "M138"));

  // A file's path stays as it is.
  const std::string path = s.env.dir.File("bus 12.fcg");
  ASSERT_TRUE(s.w().transfer.SaveConfigToFile(path));
  ASSERT_TRUE(s.w().transfer.OpenFromFile(path));
  const std::string shown = c["LConfigPath"].Text();
  ASSERT_EQ(shown.rfind(path, 0), 0u);
  s.Toggle();
  EXPECT_EQ(c["LConfigPath"].Text(), shown);
}

TEST(LanguageToggle, SendsNothingAndWritesNoFileWithATrackerConnected) {
  Shipped s(true);
  ui::ControlModel& c = s.w().controls;
  s.env.clock.RunUntil([&] { return !s.w().transfer.TrackerImei.empty(); }, 3000);
  ASSERT_FALSE(s.w().transfer.TrackerImei.empty());
  s.env.clock.Advance(1000);
  const std::string type = c["LType"].Text();
  ASSERT_EQ(type.rfind(s.Ru("Monitoring", "Str0"), 0), 0u);
  std::map<std::string, std::filesystem::file_time_type> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(s.env.dir.Path())) {
    files[e.path().string()] = e.last_write_time();
  }
  const size_t writes = s.env.serial.Writes().size();
  const size_t chart = c["StatusChart"].Items().size();

  s.Toggle();
  EXPECT_EQ(s.env.serial.Writes().size(), writes);
  // The readouts of the records held are shown in English at once.
  EXPECT_EQ(c["LType"].Text().rfind(s.En("Monitoring", "Str0"), 0), 0u);
  EXPECT_EQ(c["LType"].Text().substr(s.En("Monitoring", "Str0").size()),
            type.substr(s.Ru("Monitoring", "Str0").size()));
  EXPECT_EQ(c["StatusChart"].Items().size(), chart);  // no sample taken by the toggle
  s.Toggle();
  std::map<std::string, std::filesystem::file_time_type> after;
  for (const auto& e : std::filesystem::recursive_directory_iterator(s.env.dir.Path())) {
    after[e.path().string()] = e.last_write_time();
  }
  EXPECT_EQ(after, files);
  EXPECT_EQ(c["LType"].Text(), type);
}

TEST(LanguageToggle, AScanKeepsItsCountdownAndReadoutsWaitingForATrackerTurnEnglish) {
  Shipped s;
  ui::ControlModel& c = s.w().controls;
  ASSERT_TRUE(c.UserClick("Button12"));
  ASSERT_TRUE(c.UserClick("Button14"));
  s.env.clock.Advance(3000);
  const std::string counting = c["Button14"].Text();
  ASSERT_EQ(counting.rfind("Скан: ", 0), 0u);
  s.Toggle();
  EXPECT_EQ(c["Button14"].Text(), counting);
  // No record has arrived: the readouts show their English captions.
  EXPECT_EQ(c["LType"].Text(), s.En("Captions", "LType"));
  EXPECT_EQ(c["LLat"].Text(), s.En("Captions", "LLat"));
  s.env.clock.Advance(30000);
  EXPECT_EQ(s.w().bluetooth.ScanCountdown, 0);
  EXPECT_EQ(c["Button14"].Text(), s.En("Captions", "Button14"));
  s.Toggle();
  EXPECT_EQ(c["Button14"].Text(), "Сканировать");
  EXPECT_EQ(c["LType"].Text(), "Тип прибора:");
}

// Cyrillic letters are encoded in UTF-8 with a lead byte of 0xD0 to 0xD3.
bool HasCyrillic(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char ch) {
    const auto b = static_cast<unsigned char>(ch);
    return b >= 0xD0 && b <= 0xD3;
  });
}

// Whether the control can be seen: it and every parent visible; any page of
// the window's page controls counts, since any can be selected, but the
// message panel shows only the page it selected.
bool Shown(const ui::ControlModel& m, const Control& c) {
  for (const Control* at = &c; at != nullptr; at = at->Parent().empty() ? nullptr : m.Find(at->Parent())) {
    if (at->GetKind() == Kind::Page && at->Parent() == "PageControlMes") {
      if (at->Name() != "MesPage" + std::to_string(m.Find("PageControlMes")->Index())) return false;
    } else if (!at->Visible() && at->GetKind() != Kind::Page) {
      return false;
    }
  }
  return true;
}

// The Russian texts the window shows: captions, hints, items, grid cells, tree
// nodes and the event log, of every control that can be seen; what the
// engineer types (edits, the IMEI list) is not the program's text.
std::set<std::string> RussianTexts(const ui::ControlModel& m) {
  std::set<std::string> out;
  const auto check = [&out](const Control* c, const std::string& text) {
    if (HasCyrillic(text)) out.insert(c->Name() + ": " + text);
  };
  for (const Control* c : m.All()) {
    if (!Shown(m, *c) || c->GetKind() == Kind::Edit || c->Name() == "Memo8") continue;
    if (c->GetKind() != Kind::Memo) check(c, c->Caption());
    check(c, c->Hint());
    for (const std::string& item : c->Items()) check(c, item);
    for (int row = 0; c->GetKind() == Kind::Grid && row < c->Rows(); ++row) {
      for (int col = 0; col < c->Cols(); ++col) check(c, c->Cell(col, row));
    }
    for (const ui::TreeNode& node : c->Nodes()) check(c, node.text);
  }
  return out;
}

// After the toggle to English nothing the window shows is Russian: the pages,
// the panels that open (messages, the update offer, the news), the help line,
// the file dialogs and the question before a write.
TEST(LanguageToggle, NothingShownAfterTheToggleToEnglishIsRussian) {
  Shipped s(true, "[Address]\nServerAdr=srv\n", false);
  ui::ControlModel& c = s.w().controls;
  // One server for the store and the updates: it stores what it is sent,
  // offers a newer configurator and has news.
  s.env.network.Listen("srv", 10890, [](std::shared_ptr<fake::FakePeer> peer) {
    peer->on_receive = [](fake::FakePeer& p, const std::vector<uint8_t>&) {
      const std::string text = p.ReceivedText();
      const size_t imei_end = text.find('#', 5);
      if (text.rfind("file#", 0) != 0 || imei_end == std::string::npos) return;
      const size_t size_end = text.find('#', imei_end + 1);
      if (size_end == std::string::npos) return;
      if (text.size() == size_end + 1 + std::stoul(text.substr(imei_end + 1, size_end - imei_end - 1)))
        p.Send("EndTransfer");
    };
  });
  s.env.network.Listen("srv", 10500, [](std::shared_ptr<fake::FakePeer> peer) {
    peer->on_receive = [](fake::FakePeer& p, const std::vector<uint8_t>&) {
      const std::string text = p.ReceivedText();
      if (text == "Get_CONFUPD:Vexa#") p.Send("ConfiguratorRLvexa_v9.9.9.9.exe");
      if (text == "+++GetNews+++") p.Send("#News#Hello");
      if (text.rfind("Get_FW", 0) == 0) p.Send("none");
    };
  });
  s.Start();
  s.env.clock.RunUntil([&] { return !s.w().transfer.TrackerImei.empty(); }, 3000);
  // The tracker is found at once; the update service's offer follows.
  ASSERT_TRUE(s.env.clock.RunUntil([&] { return c["Panel32"].Visible(); }, 5000));
  ASSERT_TRUE(c.UserMouseMove("Label21"));
  ASSERT_TRUE(HasCyrillic(c["HelpLabel"].Text()));
  ASSERT_TRUE(c.UserSelect("CANBUSMODE", 1));
  s.Toggle();
  const size_t shown_from = s.shown.size();
  const size_t boxes_from = s.env.dialogs.Boxes().size();
  std::set<std::string> russian = RussianTexts(c);

  // The news, the store's confirmation and an empty IMEI field.
  s.env.clock.Advance(10000);
  EXPECT_TRUE(c["NewsPanel"].Visible());
  russian.merge(RussianTexts(c));
  ASSERT_TRUE(c.UserClick("UploadConfigButton"));
  s.env.clock.Advance(1500);
  russian.merge(RussianTexts(c));
  ASSERT_TRUE(c.UserType("IMEICLOUD", ""));
  ASSERT_TRUE(c.UserClick("UploadConfigButton"));
  russian.merge(RussianTexts(c));
  // Every file dialog, cancelled.
  for (const char* button : {"MImage1", "MImage2", "Open_fw", "SaveLog", "SaveBundle"}) {
    ASSERT_TRUE(c.UserClick(button)) << button;
  }
  // The question before a write lists the changed fields.
  ASSERT_TRUE(c.UserType("SERVERIP", "other.example.org:21114"));
  s.env.dialogs.QueueConfirm(false);
  ASSERT_TRUE(c.UserClick("MImage6"));
  s.env.clock.Advance(500);
  russian.merge(RussianTexts(c));

  for (size_t i = shown_from; i < s.shown.size(); ++i) {
    if (HasCyrillic(s.shown[i])) russian.insert("MESLABEL: " + s.shown[i]);
  }
  const auto& boxes = s.env.dialogs.Boxes();
  ASSERT_GT(boxes.size(), boxes_from);
  for (size_t i = boxes_from; i < boxes.size(); ++i) {
    if (HasCyrillic(boxes[i])) russian.insert("box: " + boxes[i]);
  }
  ASSERT_EQ(s.env.dialogs.Filters().size(), 5u);
  for (const std::string& filter : s.env.dialogs.Filters()) {
    if (HasCyrillic(filter)) russian.insert("filter: " + filter);
  }
  EXPECT_EQ(russian, std::set<std::string>());
  EXPECT_TRUE(std::find(s.shown.begin() + static_cast<std::ptrdiff_t>(shown_from), s.shown.end(),
                        s.En("Window", "Uploaded")) != s.shown.end());
  EXPECT_EQ(c["Label430"].Text(), s.En("Window", "ConfiguratorOffer"));
  EXPECT_EQ(c["HelpLabel"].Text(), s.En("Help", "Label21"));
}

// A language file of our own, to test how its sections are applied.
struct Custom : fake::World {
  explicit Custom(const std::string& text) : fake::World({}, false) {
    env.dir.Write("language.lng", text);
    Start();
  }
};

TEST(LanguageFile, ListCountsAreBoundedByTheList) {
  Custom big(
      "[OpList]\nCount=99\nOp0=A//\\ a\nOp1=B//\\ b\nOp6=X//\\ x\n"
      "[Outs]\nCount=0\nOut0=Z//\\ z\n"
      "[Input1]\nCount=-3\nIn0=Z//\\ z\n"
      "[Input2]\nCount=two\nIn0=Z//\\ z\n");
  ui::ControlModel& c = big.w().controls;
  // The list keeps its size; items without a key keep their text.
  ASSERT_EQ(c["OPERATOR"].Items().size(), 6u);
  const std::string designed = c["OPERATOR"].Items()[5];
  EXPECT_EQ(c["OPERATOR"].Items()[0], "A");
  EXPECT_EQ(c["OPERATOR"].Items()[1], "B");
  EXPECT_FALSE(designed.empty());
  // A count of 0 or less, or not a number, changes nothing.
  EXPECT_NE(c["OUTTYPE"].Items()[0], "Z");
  EXPECT_NE(c["IN1TYPE"].Items()[0], "Z");
  EXPECT_NE(c["IN2TYPE"].Items()[0], "Z");
  ASSERT_TRUE(c.UserClick("LangImage"));
  EXPECT_EQ(c["OPERATOR"].Items()[1], "b");
  EXPECT_EQ(c["OPERATOR"].Items()[5], designed);
  EXPECT_EQ(c["OPERATOR"].Items().size(), 6u);
}

TEST(LanguageFile, CaptionsSectionSetsTextsItemsHeadingsAndHints) {
  Custom custom(
      "[Captions]\nTabSheet1=Основные//\\ Main\nTRANSTORS485=Через RS-485//\\ Over RS-485\n"
      "CalibrateStep3Type.Item9=out of range//\\ out\nMImage3.Hint=Удаленно//\\ Remote\n"
      "MCCMNCGRID.Col1=Сеть//\\ Network\nNoSuchControl=x//\\ y\nMCCMNCGRID.Col77=x//\\ y\n");
  ui::ControlModel& c = custom.w().controls;
  EXPECT_EQ(c["TabSheet1"].Text(), "Основные");
  EXPECT_EQ(c["MCCMNCGRID"].Cell(1, 0), "Сеть");
  ASSERT_TRUE(c.UserClick("LangImage"));
  EXPECT_EQ(c["TabSheet1"].Text(), "Main");
  EXPECT_EQ(c["MImage3"].Hint(), "Remote");
  EXPECT_EQ(c["MCCMNCGRID"].Cell(1, 0), "Network");
}

TEST(LanguageFile, WithoutOneTheCaptionFallsBackAndTheVersionIsGuarded) {
  fake::World w({}, false);
  w.w().updates.OwnVersion = "7";
  w.Start();
  ui::ControlModel& c = w.w().controls;
  EXPECT_EQ(c["FormCaption"].Text(), "Конфигуратор Kelvane RLVexa v.");
  EXPECT_EQ(c["MImage9"].Hint(), "Обновить прошивку");
  EXPECT_TRUE(c["RzCheckTree1"].Nodes().empty());
  // The designed captions and items stay.
  EXPECT_EQ(c["DeleteTrack"].Text(), "Удалить трек");
  EXPECT_FALSE(c["TRACKTYPE"].Items()[0].empty());
  ASSERT_TRUE(c.UserClick("LangImage"));
  // No file: the defaults are the Russian texts in either language.
  EXPECT_EQ(c["MImage9"].Hint(), "Обновить прошивку");
  EXPECT_EQ(w.w().messages.LanguageName, "english");
}

// Without a language file the tree has no tags to tick; a write must not clear
// the tag lists the tracker has.
TEST(LanguageFile, WithoutATreeAWriteKeepsTheTagListsRead) {
  fake::World t;
  t.Start();
  t.env.clock.RunUntil([&] { return !t.w().transfer.TrackerImei.empty(); }, 3000);
  auto one = t.sim.Record(0);
  for (size_t i = 126; i < 190; ++i) one[i] = static_cast<uint8_t>(0x11 * (i % 7));
  // Bits the write sets on its own (the Modbus rows, the power-save flag) are set already.
  one[150] |= 0x1F;
  one[168] |= 0x20;
  one[169] |= 0x80;
  t.sim.SetRecord(0, one);
  t.w().transfer.ReadFromDevice();
  t.env.clock.Advance(600);
  ASSERT_TRUE(t.w().controls["RzCheckTree1"].Nodes().empty());

  t.env.dialogs.QueueConfirm(true);
  t.w().transfer.LoadToDevice();
  t.env.clock.Advance(600);
  const auto written = t.sim.Record(0);
  EXPECT_TRUE(std::equal(written.begin() + 126, written.begin() + 190, one.begin() + 126));

  // After the defaults, nothing was read: no tags.
  t.w().config.Load_default();
  t.env.dialogs.QueueConfirm(true);
  t.w().transfer.LoadToDevice();
  t.env.clock.Advance(600);
  const auto defaults = t.sim.Record(0);
  EXPECT_TRUE(std::all_of(defaults.begin() + 126, defaults.begin() + 158, [](uint8_t b) { return b == 0; }));
}

}  // namespace
}  // namespace rlv
