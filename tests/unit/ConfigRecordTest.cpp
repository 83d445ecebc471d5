// The two configuration records built from the settings pages and back.
// Expected bytes are written out by hand from the record layout.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "DefaultRecords.h"
#include "World.h"
#include "config/ConfigControls.h"
#include "config/Editor.h"
#include "link/Crc.h"

namespace rlv {
namespace {

using Record = std::array<uint8_t, 512>;

std::string ShippedLanguageFile() {
  std::ifstream in(RLVEXA_SOURCE_DIR "/data/language.lng", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A started configurator with the shipped language file and the reset pages.
struct Pages : fake::World {
  Pages() : fake::World(sim::SimConfig{}, false) {
    env.dir.Write("language.lng", ShippedLanguageFile());
    Start();
    w().config.Load_default();
  }
  ui::Control& operator[](const char* name) { return w().controls[name]; }
  bool Build() { return w().config.ReadConfigFromObjects(); }
  const Record& R1() { return w().config.ConfigBlock1; }
  const Record& R2() { return w().config.ConfigBlock2; }
};

void Put(Record& r, size_t at, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) r[at++] = b;
}

void PutText(Record& r, size_t at, const std::string& text) {
  for (char c : text) r[at++] = static_cast<uint8_t>(c);
}

// Compares two records byte by byte, naming the first offsets that differ.
void ExpectRecord(const Record& actual, const Record& expected, std::initializer_list<size_t> skip = {}) {
  int reported = 0;
  for (size_t i = 0; i < 510; ++i) {
    bool skipped = false;
    for (size_t s : skip) skipped = skipped || s == i;
    if (skipped || actual[i] == expected[i]) continue;
    ADD_FAILURE() << "offset " << i << ": " << int{actual[i]} << " instead of " << int{expected[i]};
    if (++reported > 10) return;
  }
  EXPECT_EQ(link::GetU16(actual.data() + 510), link::Crc16(actual.data(), 510));
}

TEST(MainRecord, TheResetConfiguration) {
  Pages p;
  ASSERT_TRUE(p.Build());
  Record e{};
  Put(e, 0, {0xAC, 0x01, 0x01, 0x01, 0x08});
  Put(e, 5, {0xFB, 0x25});  // 9723
  Put(e, 11, {0x23, 0x28, 0x0B, 0x00, 0x00});
  PutText(e, 61, "telematics.example.com");
  Put(e, 85, {0x7A, 0x52});  // 21114
  PutText(e, 87, "+7");
  // Track panel (not reset: its initial values); the filter fields stay 0 outside the manual mode.
  Put(e, 103, {10, 120, 0, 120, 0, 0x20, 0x03, 60, 0, 60, 0, 50, 0, 5, 3, 5});
  // Tree ticks on tags 16, 17 and 26 of both kinds: word 1 of each mask.
  Put(e, 128, {0x03, 0x04});
  Put(e, 160, {0x03, 0x04});
  Put(e, 190, {0x35, 0x88, 0x13, 0x88, 0x13, 0x0A, 0xFF, 0xFF});
  Put(e, 198, {0x34, 0x88, 0x13, 0x88, 0x13, 0x0A, 0xFF, 0xFF});
  Put(e, 206, {0, 10, 10, 1});
  Put(e, 256, {0x01, 0x00, 0x4B, 0x00, 0x00, 0x01, 0x00});
  Put(e, 353, {192, 0, 2, 10, 0x04, 0x29, 0x8F, 0x2A});
  Put(e, 368, {0x02, '0'});
  ExpectRecord(p.R1(), e, {349, 350, 351, 352});
  // 2026-12-09 12:00:00 local time as seconds since 1970.
  EXPECT_EQ(link::GetU32(p.R1().data() + 349), 1796817600u);
}

TEST(SecondRecord, TheResetConfiguration) {
  Pages p;
  ASSERT_TRUE(p.Build());
  Record e{};
  Put(e, 0, {0xAB, 0x01, 0x02, 0x01, 0x00, 0x1E, 0x1E, 0x64, 0x1E});
  Put(e, 12, {0x5A, 0x23, 0x23, 0x02, 0x14, 0x5A, 0x28, 0x02, 0x00, 0x00});
  ExpectRecord(p.R2(), e);
}

TEST(Records, ANewSimulatedTrackerHoldsTheResetRecords) {
  Pages p;
  ASSERT_TRUE(p.Build());
  const Record sim1 = sim::DefaultRecord1();
  ExpectRecord(p.R1(), sim1, {349, 350, 351, 352});
  EXPECT_EQ(p.R2(), sim::DefaultRecord2());
}

TEST(MainRecord, ServerAddressSplitsAtTheFirstColon) {
  Pages p;
  p["SERVERIP"].SetText("gw.example.com:21114");
  ASSERT_TRUE(p.Build());
  EXPECT_STREQ(reinterpret_cast<const char*>(p.R1().data() + 61), "gw.example.com");
  EXPECT_EQ(link::GetU16(p.R1().data() + 85), 21114);

  p["SERVERIP"].SetText("gw.example.com:");
  ASSERT_TRUE(p.Build());
  EXPECT_STREQ(reinterpret_cast<const char*>(p.R1().data() + 61), "gw.example.com");
  EXPECT_EQ(link::GetU16(p.R1().data() + 85), 0);

  p["SERVERIP"].SetText("192.0.2.7");
  ASSERT_TRUE(p.Build());
  EXPECT_EQ(p.R1()[61], 0);
  EXPECT_EQ(link::GetU16(p.R1().data() + 85), 192);

  p["SERVERIP"].SetText("host:  -12x");
  ASSERT_TRUE(p.Build());
  EXPECT_EQ(link::GetU16(p.R1().data() + 85), static_cast<uint16_t>(-12));
}

TEST(MainRecord, OverlongTextsStopTheBuild) {
  Pages p;
  p["SERVERIP"].SetText(std::string(23, 'h') + ":1");
  EXPECT_TRUE(p.Build());
  p["SERVERIP"].SetText(std::string(24, 'h') + ":1");
  EXPECT_FALSE(p.Build());
  EXPECT_NE(p["MESLABEL"].Text().find("SERVERIP"), std::string::npos);
  EXPECT_NE(p["MESLABEL"].Text().find("23"), std::string::npos);
  p["SERVERIP"].SetText("h:1");
  p["DISPNUMBER"].SetText("+7901234567890");  // 14 characters
  EXPECT_TRUE(p.Build());
  p["DISPNUMBER"].SetText("+79012345678901");
  EXPECT_FALSE(p.Build());
  EXPECT_NE(p["MESLABEL"].Text().find("14"), std::string::npos);
}

TEST(MainRecord, UpdateServerAddressParts) {
  Pages p;
  p["IPUPDATE"].SetText("1.2.3");
  ASSERT_TRUE(p.Build());
  EXPECT_EQ(std::vector<uint8_t>(p.R1().begin() + 353, p.R1().begin() + 357),
            (std::vector<uint8_t>{1, 2, 0, 3}));
  p["IPUPDATE"].SetText("300.1.1.1");
  ASSERT_TRUE(p.Build());
  EXPECT_EQ(p.R1()[353], 44);
}

TEST(MainRecord, FilterFieldsOnlyInTheManualTrackMode) {
  Pages p;
  p["MaxHdop"].SetText("2,5");
  p["Maxspeed"].SetText("120");
  p["MINSATS"].SetText("4");
  p["TRACKTYPE"].SetIndex(1);
  ASSERT_TRUE(p.Build());
  for (size_t i = 119; i <= 125; ++i) EXPECT_EQ(p.R1()[i], 0) << i;
  p.w().config.Read_config();
  EXPECT_EQ(p["MaxHdop"].Text(), "0");
  EXPECT_EQ(p["MINSATS"].Text(), "0");

  p["MaxHdop"].SetText("2,5");
  p["Maxaccel"].SetText("1,5");
  p["Maxspeed"].SetText("120");
  p["TRACKTYPE"].SetIndex(2);
  ASSERT_TRUE(p.Build());
  EXPECT_EQ(p.R1()[119], 25);
  EXPECT_EQ(p.R1()[120], 120);
  EXPECT_EQ(p.R1()[122], 15);
  p["MaxHdop"].SetText("");
  p.w().config.Read_config();
  EXPECT_EQ(p["MaxHdop"].Text(), "2,5");
  EXPECT_FALSE(p["StructPanel"].Visible());  // loading track mode 2 does not pop the panel up
}

TEST(MainRecord, PasswordKeepsItsLowBits) {
  Pages p;
  p["CONFPASS"].SetText("0");
  ASSERT_TRUE(p.Build());
  EXPECT_EQ(p.R1()[12] & 0x20, 0);
  p["CONFPASS"].SetText("70000");
  ASSERT_TRUE(p.Build());
  EXPECT_EQ(link::GetU16(p.R1().data() + 5), 4464);
  EXPECT_EQ(p.R1()[12] & 0x20, 0x20);
  p.w().config.Read_config();
  EXPECT_EQ(p["CONFPASS"].Text(), "4464");
}

TEST(MainRecord, KeyCodesInEitherCase) {
  Pages p;
  p["KEY1"].SetText("A1B2C3D4E5F6");
  p["KEY2"].SetText("a1b2c3d4e5f6");
  p["KEY3"].SetText("12AB");
  ASSERT_TRUE(p.Build());
  const std::vector<uint8_t> expected{0xF6, 0xE5, 0xD4, 0xC3, 0xB2, 0xA1};
  EXPECT_EQ(std::vector<uint8_t>(p.R1().begin() + 210, p.R1().begin() + 216), expected);
  EXPECT_EQ(std::vector<uint8_t>(p.R1().begin() + 216, p.R1().begin() + 222), expected);
  EXPECT_EQ(std::vector<uint8_t>(p.R1().begin() + 222, p.R1().begin() + 228),
            (std::vector<uint8_t>{0, 0, 0, 0, 0xAB, 0x12}));
  p.w().config.Read_config();
  EXPECT_EQ(p["KEY2"].Text(), "A1B2C3D4E5F6");
  EXPECT_EQ(p["KEY4"].Text(), "000000000000");
  ASSERT_TRUE(p.Build());
  for (size_t i = 228; i < 240; ++i) EXPECT_EQ(p.R1()[i], 0);
  // Typing keeps only hexadecimal digits.
  p.w().controls.UserType("KEY5", "12-zz-ab");
  EXPECT_EQ(p["KEY5"].Text(), "12ab");
}

TEST(MainRecord, ModbusRowsArePackedFromTheFirstEntry) {
  Pages p;
  auto& grid = p["ModBusStr"];
  const char* row1[] = {"7", "3", "300", "2"};
  const char* row3[] = {"9", "16", "5", "4"};
  for (int c = 0; c < 4; ++c) {
    grid.SetCell(c, 1, row1[c]);
    grid.SetCell(c, 3, row3[c]);
  }
  ASSERT_TRUE(p.Build());
  EXPECT_EQ(std::vector<uint8_t>(p.R1().begin() + 263, p.R1().begin() + 277),
            (std::vector<uint8_t>{7, 3, 0x2C, 0x01, 2, 5, 0, 9, 16, 5, 0, 4, 5, 1}));
  EXPECT_EQ(link::GetU16(p.R1().data() + 150), 0x0003);
  p.w().config.Read_config();
  EXPECT_EQ(grid.Cell(0, 2), "9");
  EXPECT_EQ(grid.Cell(2, 1), "300");
  EXPECT_EQ(grid.Cell(0, 3), "");
  // Rows change only through the row editor: the grid takes no typing.
  EXPECT_FALSE(p.w().controls.UserSetCell("ModBusStr", 0, 3, "12"));
  EXPECT_EQ(grid.Cell(0, 3), "");
}

TEST(MainRecord, DrivingStyleSetsTwoStatusTags) {
  Pages p;
  p["EnDrivingStyle"].SetChecked(true);
  ASSERT_TRUE(p.Build());
  EXPECT_EQ(p.R1()[13] & 0x20, 0x20);
  EXPECT_EQ(link::GetU16(p.R1().data() + 168), 0x8020);
}

TEST(MainRecord, ResetTicksTags16_17And26) {
  Pages p;
  const auto& nodes = p["RzCheckTree1"].Nodes();
  ASSERT_FALSE(nodes.empty());
  int ticked = 0;
  for (const auto& node : nodes) {
    if (!node.checked) continue;
    ++ticked;
    EXPECT_TRUE(node.tag == 16 || node.tag == 17 || node.tag == 26) << node.text;
  }
  EXPECT_EQ(ticked, 6);  // both kinds

  // A group shows a partial tick while some of its tags are ticked; ticking
  // it ticks all of them, and the record takes every one.
  using Tick = ui::Control::Tick;
  int group = -1;
  uint16_t group_bits = 0;
  for (const auto& node : nodes) {
    if (node.kind == 0 && node.tag == 16) group = node.parent;
  }
  for (const auto& node : nodes) {
    if (group >= 0 && node.parent == group) group_bits |= static_cast<uint16_t>(1u << (node.tag % 16));
  }
  ASSERT_GE(group, 0);
  EXPECT_EQ(p["RzCheckTree1"].NodeTick(group), Tick::kPartial);
  EXPECT_EQ(p["RzCheckTree1"].NodeTick(0), Tick::kOff);
  ASSERT_TRUE(p.w().controls.UserCheckNode("RzCheckTree1", group, true));
  EXPECT_EQ(p["RzCheckTree1"].NodeTick(group), Tick::kOn);
  ASSERT_TRUE(p.Build());
  EXPECT_EQ(link::GetU16(p.R1().data() + 126 + 2), group_bits);  // data tags 16-31
  ASSERT_TRUE(p.w().controls.UserCheckNode("RzCheckTree1", group, false));
  EXPECT_EQ(p["RzCheckTree1"].NodeTick(group), Tick::kOff);
}

TEST(SecondRecord, SignedTenths) {
  Pages p;
  p["BrakingLevel"].SetText("2,1");
  p["SkidLevel"].SetText("-1,5");
  p["AccelerationLevel"].SetText("13,0");
  p["CourceLevel"].SetText("300");
  p["SavePowerAfterStop"].SetText("9999");
  ASSERT_TRUE(p.Build());
  EXPECT_EQ(p.R2()[5], 0x15);
  EXPECT_EQ(p.R2()[6], 130);
  EXPECT_EQ(p.R2()[7], 44);
  EXPECT_EQ(p.R2()[8], 0xF1);
  EXPECT_EQ(p.R2()[20], 0x0F);
  EXPECT_EQ(p.R2()[21], 0x27);
  p.w().config.Read_config2();
  EXPECT_EQ(p["SkidLevel"].Text(), "-1,5");
  EXPECT_EQ(p["AccelerationLevel"].Text(), "-12,6");
  EXPECT_EQ(p["BrakingLevel"].Text(), "2,1");
}

TEST(Records, ABadNumberStopsTheBuildAndNamesTheText) {
  Pages p;
  p["Perpackmove"].SetText("12a");
  EXPECT_FALSE(p.Build());
  EXPECT_NE(p["MESLABEL"].Text().find("12a"), std::string::npos);
  p["Perpackmove"].SetText("60");
  p["BrakingLevel"].SetText("3.0");  // the system's separator is a comma
  EXPECT_FALSE(p.Build());
  EXPECT_NE(p["MESLABEL"].Text().find("3.0"), std::string::npos);
}

// A record with every field away from its default goes to the pages and back unchanged.
TEST(Records, RecordToPagesToRecordKeepsEveryByte) {
  Pages p;
  Record r{};
  Put(r, 0, {0xAC, 1, 1, 1, 8});
  Put(r, 5, {0x39, 0x30, 0, 0, 0x2A, 0x00});  // password 12345, id 42
  Put(r, 11, {0x3B, 0x68, 0x0C | 0x20 | 0x40 | 0x80, 0x01, 0x05});
  PutText(r, 16, "internet.example");
  PutText(r, 61, "тест.example.com");
  Put(r, 85, {0x10, 0x27});
  PutText(r, 87, "+79001234567");
  Put(r, 102, {2,    7,    0x10, 0x00, 0x20, 0x00, 0x64, 0x00, 0x1E, 0x00, 0x0A, 0x00,
               0x64, 0x00, 9,    8,    7,    21,   90,   4,    12,   60,   3,    5});
  for (size_t i = 126; i < 190; ++i) r[i] = static_cast<uint8_t>(i * 7);
  Put(r, 190, {0x32, 0x88, 0x13, 0x88, 0x13, 0x0A, 0xFF, 0xFF});
  Put(r, 198, {0x36, 0x88, 0x13, 0x88, 0x13, 0x0A, 0xFF, 0xFF});
  Put(r, 206, {4, 20, 30, 2});
  Put(r, 210, {1, 2, 3, 4, 5, 6, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0, 0xF0});
  Put(r, 256, {2, 0x80, 0x25, 0, 0, 3, 4});  // 9600
  Put(r, 263, {7, 3, 0x2C, 0x01, 2, 5, 0, 8, 4, 1, 0, 4, 5, 1});
  Put(r, 348, {0});
  Put(r, 353, {10, 20, 30, 40, 0x11, 0x22, 0x33, 0x44});
  Put(r, 361, {0xFE, 0xFF, 0x05, 0x00, 0x5A, 0x00});
  Put(r, 368, {1, 9, 0x40, 0xE2, 0x01, 0x00});  // model 1: user 9, password 123456
  Put(r, 385, {1, 0xFA, 0x00, 0xFB, 0x00, 0, 0, 0, 0, 0, 0, 1, 2});
  // Bits of the masks that the tree, the Modbus table and the driving style own.
  p.w().config.ConfigBlock1 = r;
  p.w().config.Read_config();
  ASSERT_TRUE(p.Build());
  // The mask bits the tree has no node for are lost; compare the rest byte for byte.
  Record expected = r;
  for (size_t word = 0; word < 32; ++word) {
    const size_t at = 126 + 2 * word;
    const uint16_t built = link::GetU16(p.R1().data() + at);
    link::PutU16(expected.data() + at, built);
  }
  ExpectRecord(p.R1(), expected, {349, 350, 351, 352});
  // Every mask bit a tree node stands for came back.
  for (const auto& node : p["RzCheckTree1"].Nodes()) {
    if (node.tag < 0) continue;
    const size_t at = (node.kind == 0 ? 126 : 158) + 2 * static_cast<size_t>(node.tag / 16);
    const bool in_r = (link::GetU16(r.data() + at) >> (node.tag % 16)) & 1;
    const bool built = (link::GetU16(p.R1().data() + at) >> (node.tag % 16)) & 1;
    if (node.kind == 0 && node.tag / 16 == 12) continue;                 // word 12 also holds the Modbus bits
    if (node.kind == 1 && (node.tag == 85 || node.tag == 95)) continue;  // set by the driving style
    EXPECT_EQ(built, in_r) << node.text;
  }

  Record r2{};
  Put(r2, 0, {0xAB, 1, 2, 1, 0, 0x15, 0xF1, 200, 0x0A, 0, 0, 0, 80, 30, 31, 5, 60, 110, 50, 3, 0x0F, 0x27});
  p.w().config.ConfigBlock2 = r2;
  p.w().config.Read_config2();
  ASSERT_TRUE(p.Build());
  ExpectRecord(p.R2(), r2);
}

TEST(Records, AnUnknownBaudRateKeepsTheListsItem) {
  Pages p;
  p["RS485BAUD"].SetIndex(1);
  Record r = p.w().config.ConfigBlock1;
  link::PutU32(r.data() + 257, 38400);
  p.w().config.ConfigBlock1 = r;
  p.w().config.Read_config();
  EXPECT_EQ(p["RS485BAUD"].Index(), 1);
}

TEST(Records, RandomPageTextsNeverRunPastTheirFields) {
  Pages p;
  std::mt19937 rng(7);
  const std::vector<std::string> alphabet = {"a",    "Z", "9", ":", ".", "ж", "Ё", "€", "\xF0\x9F\x98\x80",
                                             "\xC3", " "};
  auto random_text = [&](size_t max) {
    std::string text;
    const size_t n = rng() % max;
    for (size_t i = 0; i < n; ++i) text += alphabet[rng() % alphabet.size()];
    return text;
  };
  int built = 0;
  for (int round = 0; round < 500; ++round) {
    p["UserAPN"].SetText(random_text(60));
    p["SERVERIP"].SetText(random_text(35));
    p["DISPNUMBER"].SetText(random_text(20));
    p["TACHOPASS"].SetText(random_text(20));
    p["TACHOMODEL"].SetIndex(2);
    if (!p.Build()) continue;
    ++built;
    const Record& r = p.R1();
    EXPECT_EQ(r[56], 0);   // APN terminator
    EXPECT_EQ(r[84], 0);   // host terminator
    EXPECT_EQ(r[101], 0);  // phone terminator
    EXPECT_EQ(r[384], 0);  // tachograph password terminator
    EXPECT_EQ(r[57] | r[58] | r[59] | r[60], 0);
  }
  EXPECT_GT(built, 50);
}

TEST(Editor, BoundedEditsClampWhileTyping) {
  Pages p;
  auto& m = p.w().controls;
  m.UserType("TimePark", "300");
  EXPECT_EQ(p["TimePark"].Text(), "250");
  m.UserType("TimePark", "");
  EXPECT_EQ(p["TimePark"].Text(), "0");
  m.UserType("MaxHdop", "25,5");
  EXPECT_EQ(p["MaxHdop"].Text(), "25");
  m.UserType("MaxHdop", "2,6");
  EXPECT_EQ(p["MaxHdop"].Text(), "2,6");
  m.UserType("Perpackstop", "-5");
  EXPECT_EQ(p["Perpackstop"].Text(), "-5");  // below zero is not checked
}

TEST(Editor, Conversions) {
  EXPECT_EQ(config::UserStrToInt(""), 0);
  EXPECT_EQ(config::UserStrToInt("-5"), -5);
  EXPECT_EQ(config::UserStrToInt("  17"), 17);
  EXPECT_THROW(config::UserStrToInt("17 "), config::ConversionError);
  EXPECT_THROW(config::UserStrToInt("2147483648"), config::ConversionError);
  EXPECT_THROW(config::UserStrToInt("x"), config::ConversionError);
  EXPECT_EQ(config::UserStrToTenths("2,1", ','), 21);
  EXPECT_EQ(config::UserStrToTenths("-1,55", ','), -15);
  EXPECT_EQ(config::ShortTenths(20, ','), "2");
  EXPECT_EQ(config::ShortTenths(15, '.'), "1.5");
  EXPECT_EQ(config::FixedTenths(-15, ','), "-1,5");
  EXPECT_EQ(config::FixedTenths(30, ','), "3,0");
}

TEST(Editor, ChangeRulesShowTheirControls) {
  Pages p;
  auto& m = p.w().controls;
  m.UserSelect("OPERATOR", 5);
  EXPECT_TRUE(p["UserAPN"].Visible());
  EXPECT_FALSE(p["Button10"].Visible());
  m.UserSelect("OUTTYPE", 4);
  EXPECT_TRUE(p["OUTINPPARAM"].Visible());
  EXPECT_TRUE(p["OUTONINCALLING"].Visible());
  m.UserSelect("RS485DEVICE", 2);
  EXPECT_EQ(p["DEVICEPAGE"].Index(), 2);
  EXPECT_TRUE(p["MODBUSMODE"].Visible());
  m.UserSelect("TACHOMODEL", 0);
  EXPECT_FALSE(p["Panel51"].Visible());
  m.UserSelect("TACHOMODEL", 1);
  EXPECT_TRUE(p["TACHOUSER"].Enabled());
  m.UserSelect("TRACKTYPE", 2);
  EXPECT_TRUE(p["StructPanel"].Visible());
  m.UserClick("Image3");
  EXPECT_FALSE(p["StructPanel"].Visible());
  m.UserClick("Button8");
  EXPECT_TRUE(p["DopPanel"].Visible());
  EXPECT_EQ(p["PresetAB"].Index(), -1);
  m.UserSelect("PresetAB", 2);
  EXPECT_EQ(p["BrakingLevel"].Text(), "1,5");
  EXPECT_EQ(p["AccelerationLevel"].Text(), "1,5");
  // Setting a selection from code runs no rule.
  p["OPERATOR"].SetIndex(0);
  EXPECT_TRUE(p["UserAPN"].Visible());
}

TEST(Editor, KeyLearningFillsTheFocusedKeyOnce) {
  Pages p;
  auto& w = p.w();
  w.shell.SelectPage(0);
  w.controls.UserFocus("KEY2");
  w.monitoring.NavigationRecord[55] = 1;
  w.config.AddKeyCodeToString("0102030405AB");
  EXPECT_EQ(p["KEY2"].Text(), "0102030405AB");
  p["KEY2"].SetText("");
  w.config.AddKeyCodeToString("0102030405AB");  // still held: no repeat
  EXPECT_EQ(p["KEY2"].Text(), "");
  w.monitoring.NavigationRecord[55] = 0;
  w.config.AddKeyCodeToString("");
  w.shell.SelectPage(1);
  w.monitoring.NavigationRecord[55] = 1;
  w.config.AddKeyCodeToString("FFFFFFFFFFFF");  // another page: nothing, and not recorded
  EXPECT_EQ(p["KEY2"].Text(), "");
  w.shell.SelectPage(0);
  w.config.AddKeyCodeToString("FFFFFFFFFFFF");
  EXPECT_EQ(p["KEY2"].Text(), "FFFFFFFFFFFF");
}

TEST(Defaults, TheResetLeavesTheTrackPanelAndTheRecordsAlone) {
  Pages p;
  p["TimePark"].SetText("77");
  p["MinRadiusAngle"].SetText("9");
  p["EnDrivingStyle"].SetChecked(true);
  p.w().config.ConfigBlock1.fill(0x5A);
  p.w().config.Load_default();
  EXPECT_EQ(p["TimePark"].Text(), "77");
  EXPECT_EQ(p["MinRadiusAngle"].Text(), "9");
  EXPECT_TRUE(p["EnDrivingStyle"].Checked());
  EXPECT_EQ(p.w().config.ConfigBlock1[100], 0x5A);
  EXPECT_EQ(p["SERVERIP"].Text(), std::string(config::kDefaultTelematicsServer) + ":21114");
}

}  // namespace
}  // namespace rlv

namespace rlv {
namespace {

TEST(Records, ANumberThatDoesNotConvertSendsNothing) {
  fake::World world;
  world.Start();
  world.env.clock.Advance(3000);  // connected, and the automatic read has filled the pages
  ASSERT_TRUE(world.w().link.Connected);
  EXPECT_EQ(world.w().controls["SERVERIP"].Text(), std::string(config::kDefaultTelematicsServer) + ":21114");
  world.w().controls["Perpackmove"].SetText("6O");
  const size_t from = world.env.serial.Writes().size();
  world.w().transfer.LoadToDevice();
  for (int command : world.SentCommands(from)) EXPECT_NE(command, 33);
  EXPECT_NE(world.w().controls["MESLABEL"].Text().find("6O"), std::string::npos);
}

}  // namespace
}  // namespace rlv
