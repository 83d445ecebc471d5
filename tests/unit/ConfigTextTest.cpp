// The readable configuration text: export, import and the fields that differ,
// on records built by the settings pages.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "ShippedFiles.h"
#include "World.h"
#include "config/ConfigFile.h"
#include "config/ConfigText.h"
#include "config/Editor.h"
#include "link/Crc.h"

namespace rlv {
namespace {

namespace text = config::text;

// A started configurator with the shipped language file and the reset pages.
struct Pages : fake::World {
  Pages() : fake::World(sim::SimConfig{}, false) {
    env.dir.Write("language.lng", fake::ShippedLanguageFile());
    Start();
    w().config.Load_default();
  }
  ui::Control& operator[](const std::string& name) { return w().controls[name]; }
  // The records of the file the pages save.
  text::Records Saved() {
    EXPECT_EQ(w().transfer.WriteConfigFile("saved.fcg"), config::Transfer::SaveResult::kSaved);
    const std::string bytes = env.dir.Read("saved.fcg");
    EXPECT_EQ(bytes.size(), config::fcg::kFileSize);
    return text::FromFileContent(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  }
  // The same records without a file: what a save would write.
  text::Records Built() {
    EXPECT_TRUE(w().config.ReadConfigFromObjects());
    return {w().config.ConfigBlock1, w().config.ConfigBlock2};
  }
};

std::vector<uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

TEST(ConfigText, TheResetConfigurationRoundTripsAndReadsAsThePagesShowIt) {
  Pages p;
  const text::Records saved = p.Saved();
  const std::string exported = text::Export(saved);
  EXPECT_NE(exported.find("[connection]\nCONFPASS = 9723\n"), std::string::npos) << exported;
  EXPECT_NE(exported.find("SERVERIP = \"telematics.example.com:21114\"\n"), std::string::npos);
  EXPECT_NE(exported.find("OPERATOR = 0 \"Автоматически, данные с СИМ карты\"\n"), std::string::npos);
  EXPECT_NE(exported.find("IN1TYPE = 5 \"Контроль зажигания (сон)\"\n"), std::string::npos);
  EXPECT_NE(exported.find("DATATAGS = 16 17 26\n"), std::string::npos);
  EXPECT_NE(exported.find("BrakingLevel = 3.0\n"), std::string::npos);
  EXPECT_NE(exported.find("IPUPDATE = 192.0.2.10\n"), std::string::npos);
  // The record headers and the inputs' constant bytes are the unnamed bytes.
  EXPECT_NE(exported.find("record1.000 = AC 01 01 01 08 00"), std::string::npos);
  EXPECT_EQ(exported.find(".bytes"), std::string::npos);
  EXPECT_EQ(exported.find(".crc"), std::string::npos);

  const text::Records back = text::Import(exported);
  EXPECT_EQ(text::ToConfigFile(back), Bytes(p.env.dir.Read("saved.fcg")));
}

TEST(ConfigText, TheReadmesExampleIsTheResetConfiguration) {
  std::ifstream in(RLVEXA_SOURCE_DIR "/README.md", std::ios::binary);
  std::ostringstream readme;
  readme << in.rdbuf();
  const std::string all = readme.str();
  const size_t from = all.find("```ini\n# RLvexa configuration\n");
  ASSERT_NE(from, std::string::npos);
  const std::string example = all.substr(from + 7, all.find("```", from + 7) - from - 7);
  Pages p;
  text::Records reset = p.Built();
  // The build time is the one moment that differs.
  const text::Records shown = text::Import(example);
  std::copy(shown.block1.begin() + 349, shown.block1.begin() + 353, reset.block1.begin() + 349);
  link::PutU16(reset.block1.data() + 510, link::Crc16(reset.block1.data(), 510));
  EXPECT_EQ(text::Export(reset), example);
}

// Random page values of every kind the pages accept.
struct RandomPages {
  std::mt19937 rng;
  explicit RandomPages(unsigned seed) : rng(seed) {}
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
  std::string Num(int lo, int hi) { return std::to_string(Int(lo, hi)); }
  std::string Text(size_t max) {
    static const std::vector<std::string> chars = {"a", "Z", "0", "9", ".", "-", " ", "\"", "\\", "#",
                                                   "=", "[", "ж", "Я", "ё", "№", "+", ":",  "€",  "\t"};
    std::string out;
    const int n = Int(0, static_cast<int>(max));
    for (int i = 0; i < n; ++i) out += chars[static_cast<size_t>(Int(0, static_cast<int>(chars.size()) - 1))];
    return out;
  }
  std::string HostText() {
    std::string t = Text(23);
    t.erase(std::remove(t.begin(), t.end(), ':'), t.end());
    return t;
  }
  std::string Hex(int max) {
    std::string out;
    const int n = Int(0, max);
    for (int i = 0; i < n; ++i) out += "0123456789ABCDEFabcdef"[Int(0, 21)];
    return out;
  }

  void Fill(Pages& p) {
    auto combo = [&](const char* name) {
      const int n = static_cast<int>(p[name].Items().size());
      p[name].SetIndex(Int(0, 9) == 0 ? -1 : Int(0, n - 1));
    };
    for (const char* name :
         {"OPERATOR", "TRACKTYPE", "Protocol", "IN1TYPE", "IN2TYPE", "OUTTYPE", "WIREKEYOPTION",
          "RS485DEVICE", "RS485BAUD", "CANBUSMODE", "CANBAUD", "TACHOMODEL"}) {
      combo(name);
    }
    for (const char* name :
         {"CALLSMSFROMALL", "OUTONINCALLING", "ONOUTIFKEYVALID", "ALARMNOTVALIDKEY", "MODBUSMODE",
          "EnDrivingStyle", "StopWriteIfSavePowerMode", "VeryLowPower", "NotWrPointF"}) {
      p[name].SetChecked(Int(0, 1) == 1);
    }
    p["CONFPASS"].SetText(Int(0, 3) == 0 ? "0" : Num(0, 65535));
    p["ID_Device"].SetText(Num(0, 65535));
    p["UserAPN"].SetText(Text(40));
    p["SERVERIP"].SetText((Int(0, 3) ? HostText() : "") + ":" + Num(0, 65535));
    p["DISPNUMBER"].SetText(Text(14));
    for (const char* name :
         {"OUTIMPULS",      "OUTPAUSE",        "OUTPERIOD",     "FUEL1",        "FUEL2",
          "TimePark",       "Filterlineangel", "Minspeedangel", "Minangel",     "Maxspeed",
          "Minspeed",       "Maxdist",         "MINWRINT",      "MINSATS",      "CourceLevel",
          "PerevorotLevel", "Tilt0Level",      "Tilt1Level",    "AgressParam1", "AgressParam2",
          "MaxSpeedLevel",  "MaxSpeedAngle",   "MinRadiusAngle"}) {
      p[name].SetText(Num(0, 255));
    }
    for (const char* name : {"Perpackstop", "Perpackstop2", "Timeoutstop", "Perpackmove", "Packdist",
                             "Accel_sens", "UPDPORT", "CONFPORT", "SavePowerAfterStop"}) {
      p[name].SetText(Num(0, 65535));
    }
    p["MaxHdop"].SetText(config::ShortTenths(Int(0, 255), ','));
    p["Maxaccel"].SetText(config::ShortTenths(Int(0, 255), ','));
    for (const char* name : {"BrakingLevel", "AccelerationLevel", "SkidLevel"}) {
      p[name].SetText(config::FixedTenths(Int(-128, 127), ','));
    }
    for (int i = 1; i <= 5; ++i) p["KEY" + std::to_string(i)].SetText(Hex(12));
    p["IPUPDATE"].SetText(Num(0, 255) + "." + Num(0, 255) + "." + Num(0, 255) + "." + Num(0, 255));
    p["TACHOUSER"].SetText(Num(0, 255));
    p["TACHOPASS"].SetText(p["TACHOMODEL"].Index() == 2 ? Text(15) : Num(0, 2000000000));
    ui::Control& modbus = p["ModBusStr"];
    for (int row = 1; row <= 5; ++row) {
      const bool used = Int(0, 2) > 0;
      modbus.SetCell(0, row, used ? Num(1, 255) : "");
      modbus.SetCell(1, row, used ? Num(0, 255) : "");
      modbus.SetCell(2, row, used ? Num(0, 65535) : "");
      modbus.SetCell(3, row, used ? Num(0, 255) : "");
    }
    ui::Control& mcc = p["MCCMNCGRID"];
    for (int row = 1; row <= 5; ++row) {
      mcc.SetCell(0, row, Int(0, 1) ? Num(0, 999) : "");
      mcc.SetCell(1, row, Int(0, 1) ? Num(0, 255) : "");
    }
    ui::Control& tree = p["RzCheckTree1"];
    for (size_t i = 0; i < tree.Nodes().size(); ++i) tree.SetNodeChecked(static_cast<int>(i), Int(0, 3) == 0);
    p.env.clock.Sleep(Int(0, 1000000000));
  }
};

TEST(ConfigText, ThousandsOfRandomPageConfigurationsRoundTripByteForByte) {
  Pages p;
  RandomPages random(20261209);
  int checked = 0;
  std::set<std::string> distinct;
  for (int i = 0; i < 3000; ++i) {
    random.Fill(p);
    const text::Records saved = p.Built();
    const std::string exported = text::Export(saved);
    ASSERT_EQ(exported.find(".bytes"), std::string::npos) << "a page value without its readable form:\n"
                                                          << exported;
    text::Records back;
    try {
      back = text::Import(exported);
    } catch (const text::ImportError& e) {
      FAIL() << e.what() << "\n" << exported;
    }
    ASSERT_EQ(text::ToConfigFile(back), text::ToConfigFile(saved)) << exported;
    distinct.insert(exported);
    ++checked;
  }
  EXPECT_EQ(checked, 3000);
  EXPECT_EQ(distinct.size(), 3000u);
}

TEST(ConfigText, AnyRecordsSurviveExportAndImportUnchanged) {
  // Records no page could build (a tracker's own bytes): unknown list items,
  // texts without their end, a foreign checksum. Bits derived from other fields
  // are rebuilt on import, so they are made consistent first.
  std::mt19937 rng(7);
  for (int i = 0; i < 500; ++i) {
    text::Records r;
    for (auto& b : r.block1) b = static_cast<uint8_t>(rng());
    for (auto& b : r.block2) b = static_cast<uint8_t>(rng());
    const text::Records once = text::Import(text::Export(r));
    const std::string text1 = text::Export(once);
    EXPECT_EQ(text::Export(text::Import(text1)), text1);
    EXPECT_EQ(text::Import(text1), once);
    // Only the derived bits of byte 12 and the tag words may have changed.
    for (size_t at = 0; at < 512; ++at) {
      if (at == 12 || at == 150 || at == 151 || at == 168 || at == 169) continue;
      ASSERT_EQ(once.block1[at], r.block1[at]) << "record 1 offset " << at;
      ASSERT_EQ(once.block2[at], r.block2[at]) << "record 2 offset " << at;
    }
  }
}

std::string ResetText() {
  Pages p;
  return text::Export(p.Saved());
}

void ExpectImportError(const std::string& text, int line, const std::string& part) {
  try {
    text::Import(text);
    ADD_FAILURE() << "imported: " << part;
  } catch (const text::ImportError& e) {
    EXPECT_EQ(e.Line(), line) << e.what();
    EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
  }
}

int LineOf(const std::string& text, const std::string& start) {
  const size_t at = text.find("\n" + start);
  EXPECT_NE(at, std::string::npos) << start;
  return static_cast<int>(std::count(text.begin(), text.begin() + static_cast<ptrdiff_t>(at) + 1, '\n')) + 1;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

TEST(ConfigText, ImportRejectsWhatThePagesCouldNotHold) {
  const std::string reset = ResetText();
  const int password = LineOf(reset, "CONFPASS");
  ExpectImportError(Replace(reset, "CONFPASS = 9723", "CONFPASS = 65536"), password, "out of range 0..65535");
  ExpectImportError(Replace(reset, "CONFPASS = 9723", "CONFPASS = 12a"), password, "not a number");
  ExpectImportError(Replace(reset, "CONFPASS = 9723\n", ""), 0, "CONFPASS is missing");
  ExpectImportError(Replace(reset, "CONFPASS = 9723", "CONFPASSWORD = 1"), password, "unknown key");
  ExpectImportError(Replace(reset, "CONFPASS = 9723", "CONFPASS = 9723\nPASS = 1"), password + 1,
                    "unknown key connection.PASS");
  ExpectImportError(Replace(reset, "CONFPASS = 9723", "CONFPASS = 9723\nCONFPASS = 1"), password + 1,
                    "given twice (first on line " + std::to_string(password) + ")");
  const int op = LineOf(reset, "OPERATOR");
  ExpectImportError(Replace(reset, "OPERATOR = 0", "OPERATOR = 6"), op, "out of range -1..5");
  ExpectImportError(Replace(reset, "OPERATOR = 0 \"", "OPERATOR = 1 \""), op, "item 1 is not");
  const int apn = LineOf(reset, "UserAPN");
  ExpectImportError(Replace(reset, "UserAPN = \"\"", "UserAPN = \"" + std::string(41, 'a') + "\""), apn,
                    "longer than 40");
  ExpectImportError(Replace(reset, "UserAPN = \"\"", "UserAPN = \"日本\""), apn, "cannot store");
  ExpectImportError(Replace(reset, "UserAPN = \"\"", "UserAPN = plain"), apn, "double quotes");
  ExpectImportError(Replace(reset, "BrakingLevel = 3.0", "BrakingLevel = 12.8"),
                    LineOf(reset, "BrakingLevel"), "out of range -12.8..12.7");
  ExpectImportError(Replace(reset, "DATATAGS = 16 17 26", "DATATAGS = 16 17 16"), LineOf(reset, "DATATAGS"),
                    "listed twice");
  ExpectImportError(Replace(reset, "WRITETIME = ", "WRITETIME = 2026-02-30 00:00:00\n#"),
                    LineOf(reset, "WRITETIME"), "not a valid time");
  // The unnamed bytes may not set a named field's bits: byte 5 is the password.
  ExpectImportError(Replace(reset, "record1.000 = AC 01 01 01 08 00", "record1.000 = AC 01 01 01 08 01"),
                    LineOf(reset, "record1.000"), "offset 5 sets bits of a named field");
  ExpectImportError(reset + "garbage\n", LineOf(reset + "garbage\n", "garbage"), "expected KEY = value");
}

TEST(ConfigText, CommentsBlankLinesAndSelectionsByTextAreAccepted) {
  const std::string reset = ResetText();
  std::string edited =
      Replace(reset, "OPERATOR = 0 \"Автоматически, данные с СИМ карты\"", "OPERATOR = \"МТС\"");
  edited = Replace(edited, "[connection]\n", "[connection]\n  # a comment\n; another\n\n");
  const text::Records r = text::Import(edited);
  EXPECT_EQ(r.block1[15], 3);
  EXPECT_EQ(link::GetU16(r.block1.data() + 510), link::Crc16(r.block1.data(), 510));
}

TEST(ConfigText, DiffNamesTheFieldsThatDifferWithOldAndNewValues) {
  Pages p;
  const text::Records a = p.Saved();
  EXPECT_TRUE(text::Diff(a, a).empty());
  p["SERVERIP"].SetText("other.example.net:4000");
  p["CONFPASS"].SetText("0");
  const text::Records b = p.Saved();
  std::vector<std::string> lines;
  for (const auto& d : text::Diff(a, b)) {
    if (d.key != "additional.WRITETIME") lines.push_back(text::FormatDifference(d));
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"connection.CONFPASS: 9723 -> 0",
                                             "connection.SERVERIP: \"telematics.example.com:21114\" -> "
                                             "\"other.example.net:4000\""}));
}

TEST(ConfigText, FileContentIsAConfigurationFileOrATextAndNothingElse) {
  Pages p;
  const text::Records saved = p.Saved();
  EXPECT_EQ(text::FromFileContent(Bytes(text::Export(saved))), saved);
  EXPECT_THROW(text::FromFileContent(Bytes("RL")), text::ImportError);
  std::vector<uint8_t> wrong_type = text::ToConfigFile(saved);
  wrong_type[2] = 7;
  EXPECT_THROW(text::FromFileContent(wrong_type), text::ImportError);
  EXPECT_THROW(text::FromFileContent({0x00, 0x01, 0x02}), text::ImportError);
  EXPECT_THROW(text::FromFileContent(Bytes("just some words\n")), text::ImportError);
}

}  // namespace
}  // namespace rlv
