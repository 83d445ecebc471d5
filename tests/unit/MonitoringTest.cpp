// The navigation and device readouts, the event log and the chart, reached
// through status and event frames built by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "TrackerSim.h"
#include "World.h"
#include "link/Bytes.h"
#include "monitor/Monitoring.h"

namespace rlv {
namespace {

using Bytes = std::vector<uint8_t>;

// Monitoring texts that name themselves: Str<n> is "T<n>", except the format texts.
std::string LanguageFile() {
  std::string text = "[Monitoring]\n";
  for (int n = 0; n < 100; ++n) {
    std::string value = "T" + std::to_string(n);
    switch (n) {
      case 20:
        value = "In%d:";
        break;
      case 21:
        value = "Out%d:";
        break;
      case 28:
        value = "Srv%d:%s";
        break;
      case 29:
        value = "Ext%d:%s";
        break;
      case 58:
        value = "Freq%d:";
        break;
      case 59:
        value = "Cnt%d:";
        break;
      case 53:
        value = "bad";
        break;
      case 52:
        value = "none";
        break;
      default:
        break;
    }
    text += "Str" + std::to_string(n) + "=" + value + "//\\ E" + std::to_string(n) + "\n";
  }
  text += "[Diagnostic]\nCode5=Питание включено//\\ Power on\nCode17=Удар//\\ Impact\n";
  return text;
}

// The payload of a status answer of `kind` carrying `record` with its true length.
// Sized once and filled in place: a range insert after a three-byte list makes
// GCC 12 report a false out-of-bounds copy at -O2.
Bytes StatusPayload(uint8_t kind, const Bytes& record) {
  Bytes p(3 + record.size());
  p[0] = kind;
  link::PutU16(p.data() + 1, static_cast<uint16_t>(record.size()));
  std::copy(record.begin(), record.end(), p.begin() + 3);
  return p;
}

// A connected tracker that has gone quiet: the records come only from the test's frames.
struct Monitor : fake::World {
  explicit Monitor(bool language = true) : World(Config()) {
    if (language) env.dir.Write("language.lng", LanguageFile());
    w().link.AutoReadConfig = false;
    Start();
    env.clock.RunUntil([&] { return w().link.Connected; }, 3000);
    sim.Config().silent = true;
    env.clock.Advance(600);
    shown.clear();
  }
  static sim::SimConfig Config() {
    sim::SimConfig config;
    return config;
  }
  void Answer(int command, const Bytes& payload) {
    const Bytes frame = sim::BuildResponseFrame(static_cast<uint8_t>(command), payload);
    w().codec.ScanFrames(frame.data(), frame.size());
  }
  // A status answer of `kind` carrying `record` with its true length.
  void Status(uint8_t kind, const Bytes& record) { Answer(34, StatusPayload(kind, record)); }
  std::string Text(const std::string& name) { return w().controls[name].Text(); }
};

Bytes Nav(size_t size = 161) {
  return Bytes(size, 0);
}
void Put16(Bytes& b, size_t at, int v) {
  link::PutU16(b.data() + at, static_cast<uint16_t>(v));
}
void Put32(Bytes& b, size_t at, int64_t v) {
  link::PutU32(b.data() + at, static_cast<uint32_t>(v));
}

// ---- Navigation record -------------------------------------------------------------

TEST(Navigation, EveryReadoutOfACraftedRecord) {
  Monitor m;
  Bytes n = Nav();
  Put32(n, 0, 1520258829);  // 05.03.2018 14:07:09 UTC
  Put32(n, 4, 55751244);
  Put32(n, 8, -37618423);
  n[12] = 11;
  n[14] = 9;
  Put16(n, 15, -28);
  Put16(n, 17, 605);
  Put16(n, 19, -15);
  Put32(n, 21, 123456);
  Put16(n, 29, 15250);
  Put16(n, 31, 50);
  Put16(n, 33, 1000);
  Put16(n, 35, 65535);
  n[37] = static_cast<uint8_t>(-5);
  n[38] = 30;
  const uint8_t key[6] = {1, 2, 3, 4, 5, 6};
  std::memcpy(n.data() + 40, key, 6);
  n[46] = 25;
  n[47] = static_cast<uint8_t>(-128);
  n[48] = 1;
  n[50] = 1;
  n[58] = 1;
  n[59] = 2 << 1;
  n[60] = static_cast<uint8_t>(-3);
  Put16(n, 61, -100);
  Put16(n, 63, 200);
  Put16(n, 65, -32768);
  Put32(n, 67, 90061);
  n[71] = 23;
  n[155] = static_cast<uint8_t>(-127);
  n[156] = static_cast<uint8_t>(-126);
  n[157] = static_cast<uint8_t>(-125);
  n[160] = 7;
  Bytes d(512, 0);
  d[98] = 1;  // input 2 counts frequency
  m.Status(1, d);
  m.Status(0, n);

  EXPECT_EQ(m.Text("LDateTime"), "T4 05.03.2018 14:07:09");
  EXPECT_EQ(m.Text("LLat"), "T5 55,751244");
  EXPECT_EQ(m.Text("LLon"), "T6 -37,618423");
  EXPECT_EQ(m.Text("LSat"), "T10 11");
  EXPECT_EQ(m.Text("LHDOP"), "T11 0,9");
  EXPECT_EQ(m.Text("LHeight"), "T7 -28");
  EXPECT_EQ(m.Text("LSpeed"), "T8 60,5");
  EXPECT_EQ(m.Text("LCourse"), "T9 -1,5");
  EXPECT_EQ(m.Text("LOdo"), "T57 123456");
  EXPECT_EQ(m.Text("LIN1"), "In1:15,250");  // the locale's decimal comma
  EXPECT_EQ(m.Text("LIN2"), "Freq2:50");
  // Two sensors, two captions.
  EXPECT_EQ(m.Text("FuelLev1"), "T31 1 1000 (-5)");
  EXPECT_EQ(m.Text("FuelLev2"), "T31 2 65535 (30)");
  EXPECT_EQ(m.Text("LiBut"), "T30 060504030201");
  EXPECT_EQ(m.Text("LTemp1"), "Ext1:25");
  EXPECT_EQ(m.Text("LTemp2"), "Ext2:---");
  EXPECT_EQ(m.Text("LTemp3"), "t.3: bad");
  EXPECT_EQ(m.Text("LTemp4"), "t.4: none");
  EXPECT_EQ(m.Text("LTemp5"), "t.5: -125");
  EXPECT_EQ(m.Text("LTemp6"), "t.6: 0");
  EXPECT_EQ(m.Text("LTemp8"), "t.8: 7");
  EXPECT_EQ(m.Text("LValid"), "T12 T44");
  EXPECT_EQ(m.Text("LOUT1"), "Out1:on");
  EXPECT_EQ(m.Text("Label322"), "T56");
  EXPECT_EQ(m.Text("Lreceiver"), "T50");
  EXPECT_EQ(m.w().controls["Lreceiver"].Color(), ui::Rgb(138, 255, 138));
  EXPECT_EQ(m.Text("LTemp"), "T24-3");
  EXPECT_EQ(m.Text("LAccel_X"), "X: -100");
  EXPECT_EQ(m.Text("LAccel_Y"), "Y: 200");
  EXPECT_EQ(m.Text("LAccel_Z"), "Z: -32768");
  EXPECT_EQ(m.Text("WorkTime"), "T791d 1h 1min 1sec");
  EXPECT_EQ(m.Text("LCsq"), "T26 23");
  EXPECT_EQ(m.w().controls["GSM_CSQ"].Position(), 23);

  // Cleared bits and the other receiver states.
  n[48] = 0;
  n[50] = 0;
  n[58] = 0;
  const std::pair<int, uint32_t> states[] = {
      {0, ui::Rgb(255, 255, 255)}, {1, ui::Rgb(255, 128, 128)}, {3, ui::Rgb(255, 128, 128)}};
  for (auto [state, color] : states) {
    n[59] = static_cast<uint8_t>(state << 1 | 0x01);  // bit 0 is not part of the state
    m.Status(0, n);
    EXPECT_EQ(m.w().controls["Lreceiver"].Color(), color) << state;
    EXPECT_EQ(m.Text("Lreceiver"), state == 0 ? "" : "T" + std::to_string(48 + state)) << state;
  }
  EXPECT_EQ(m.Text("LValid"), "T12 T45");
  EXPECT_EQ(m.Text("LOUT1"), "Out1:off");
  EXPECT_EQ(m.Text("Label322"), "T55");
}

TEST(Navigation, DecimalReadoutsKeepTheSignAndUseACommaWhateverTheLocale) {
  Monitor m;
  m.env.locale.separator = '.';
  Bytes n = Nav();
  const std::pair<int64_t, std::string> coordinates[] = {
      {123, "0,000123"},           {-5, "-0,000005"},          {0, "0,000000"},
      {37000000, "37,000000"},     {-999999, "-0,999999"},     {-1000000, "-1,000000"},
      {INT32_MIN, "-2147,483648"}, {INT32_MAX, "2147,483647"},
  };
  for (const auto& [value, text] : coordinates) {
    Put32(n, 4, value);
    Put32(n, 8, value);
    m.Status(0, n);
    EXPECT_EQ(m.Text("LLat"), "T5 " + text);
    EXPECT_EQ(m.Text("LLon"), "T6 " + text);
  }
  n[14] = 255;
  Put16(n, 17, 0);
  Put16(n, 19, -5);
  Put16(n, 29, 15250);
  m.Status(0, n);
  EXPECT_EQ(m.Text("LHDOP"), "T11 25,5");
  EXPECT_EQ(m.Text("LSpeed"), "T8 0,0");
  EXPECT_EQ(m.Text("LCourse"), "T9 -0,5");
  // Only the analogue input follows the locale.
  EXPECT_EQ(m.Text("LIN1"), "In1:15.250");
  Put16(n, 17, 65535);
  Put16(n, 19, -32768);
  m.Status(0, n);
  EXPECT_EQ(m.Text("LSpeed"), "T8 6553,5");
  EXPECT_EQ(m.Text("LCourse"), "T9 -3276,8");
}

TEST(Navigation, FixTimesAndWorkTimesAcrossTheWholeRange) {
  Monitor m;
  Bytes n = Nav();
  const std::pair<int64_t, std::string> times[] = {
      {0, "01.01.1970 00:00:00"},
      {2147483647, "19.01.2038 03:14:07"},
      {2147483648, "19.01.2038 03:14:08"},
      {4294967295, "07.02.2106 06:28:15"},
  };
  for (const auto& [seconds, text] : times) {
    Put32(n, 0, seconds);
    m.Status(0, n);
    EXPECT_EQ(m.Text("LDateTime"), "T4 " + text);
  }
  const std::pair<int64_t, std::string> work[] = {
      {0, "0sec"},           {59, "59sec"},
      {3600, "1h 0sec"},     {3456000, "1m 9d 0sec"},
      {31536000, "1y 0sec"}, {4294967295, "136y 1m 6d 6h 28min 15sec"},
  };
  for (const auto& [seconds, text] : work) {
    Put32(n, 67, seconds);
    m.Status(0, n);
    EXPECT_EQ(m.Text("WorkTime"), "T79" + text);
  }
}

TEST(Navigation, InputTypesComeFromTheDeviceRecord) {
  Monitor m;
  Bytes n = Nav();
  Put16(n, 29, 7);
  Put16(n, 31, 65535);
  Bytes d(512, 0);
  const std::pair<int, std::string> types[] = {{0, "In"}, {1, "Freq"}, {2, "Cnt"}, {3, "Cnt"},
                                               {4, "In"}, {5, "In"},   {6, "In"},  {200, "In"}};
  for (const auto& [type, prefix] : types) {
    d[97] = static_cast<uint8_t>(type);
    d[98] = static_cast<uint8_t>(type);
    m.Status(1, d);
    m.Status(0, n);
    EXPECT_EQ(m.Text("LIN1"), prefix + "1:" + (prefix == "In" ? "0,007" : "7")) << type;
    EXPECT_EQ(m.Text("LIN2"), prefix + "2:" + (prefix == "In" ? "65,535" : "65535")) << type;
  }
}

TEST(Navigation, AShorterRecordOverwritesOnlyItsOwnLengthAndALongerOneIsCut) {
  Monitor m;
  Bytes first = Nav(161);
  first[155] = 10;
  first[160] = 15;
  first[12] = 4;
  m.Status(0, first);
  Bytes second = Nav(80);
  second[12] = 9;
  m.Status(0, second);
  EXPECT_EQ(m.Text("LSat"), "T10 9");
  EXPECT_EQ(m.Text("LTemp3"), "t.3: 10");
  EXPECT_EQ(m.Text("LTemp8"), "t.8: 15");
  EXPECT_EQ(m.w().monitoring.NavigationRecord[160], 15);

  Bytes longer(300, 0x21);
  m.Status(0, longer);
  EXPECT_EQ(m.w().monitoring.NavigationRecord[255], 0x21);
  EXPECT_EQ(m.Text("LSat"), "T10 33");

  // A length that promises more than the frame carries copies only what came.
  Bytes lying{0, 0xFF, 0xFF, 5};
  m.Answer(34, lying);
  EXPECT_EQ(m.w().monitoring.NavigationRecord[0], 5);
  EXPECT_EQ(m.w().monitoring.NavigationRecord[1], 0x21);
  // Too short for kind and length: ignored; an unknown kind: ignored.
  m.w().controls["LSat"].SetText("kept");
  m.Answer(34, {0, 1});
  m.Answer(34, {2, 1, 0, 7});
  EXPECT_EQ(m.Text("LSat"), "kept");
}

TEST(Navigation, TheLinkClosingZeroesBothRecordsAndTheLabelsKeepTheirTexts) {
  Monitor m;
  Bytes n = Nav();
  n[12] = 7;
  m.Status(0, n);
  m.w().discovery.ClosePortConnection();
  EXPECT_EQ(m.w().monitoring.NavigationRecord[12], 0);
  EXPECT_EQ(m.w().monitoring.Imei(), "");
  EXPECT_EQ(m.w().transfer.TrackerImei, "");
  EXPECT_EQ(m.Text("LSat"), "T10 7");
}

TEST(Navigation, TextsFollowTheLanguage) {
  Monitor m;
  m.Status(0, Nav());
  EXPECT_EQ(m.Text("LSat"), "T10 0");
  m.w().messages.LanguageName = "english";
  m.Status(0, Nav());
  EXPECT_EQ(m.Text("LSat"), "E10 0");
}

TEST(Navigation, WithoutALanguageFileTheTextsAreEmpty) {
  Monitor m(false);
  m.Status(0, Nav());
  EXPECT_EQ(m.Text("LSat"), " 0");
  EXPECT_EQ(m.Text("LTemp1"), "");
}

TEST(Navigation, FormatTextsFromTheLanguageFileReadNoArgumentTheyWereNotGiven) {
  fake::World world;
  world.env.dir.Write("language.lng",
                      "[Monitoring]\nStr20=%s%n%d%d:\nStr21=%n%s\nStr28=%d%d%s%s\nStr29=%s %d\n"
                      "Str58=%x%d\nStr59=%%d%d\n");
  world.w().link.AutoReadConfig = false;
  world.Start();
  world.env.clock.RunUntil([&] { return world.w().link.Connected; }, 3000);
  world.sim.Config().silent = true;
  Bytes d(512, 0);
  d[98] = 2;
  Bytes frame = sim::BuildResponseFrame(34, StatusPayload(1, d));
  world.w().codec.ScanFrames(frame.data(), frame.size());
  Bytes n{0, 161, 0};
  n.resize(3 + 161, 0);
  frame = sim::BuildResponseFrame(34, n);
  world.w().codec.ScanFrames(frame.data(), frame.size());
  auto& c = world.w().controls;
  EXPECT_EQ(c["LIN1"].Text(), "%s%n1%d:0,000");
  EXPECT_EQ(c["LOUT1"].Text(), "%n%soff");
  EXPECT_EQ(c["Label42"].Text(), "1%doff%s");
  EXPECT_EQ(c["LTemp1"].Text(), "%s 1");
  EXPECT_EQ(c["LIN2"].Text(), "%d20");
}

TEST(Navigation, TheChartKeepsOneSampleASecondForTenMinutes) {
  Monitor m;
  Bytes n = Nav();
  const auto& chart = m.w().controls["StatusChart"];
  n[12] = 5;
  n[71] = 20;
  m.Status(0, n);
  const size_t before = chart.Items().size();
  m.Status(0, n);  // the same second: no new sample
  EXPECT_EQ(chart.Items().size(), before);
  m.env.clock.Advance(1000);
  n[12] = 6;
  m.Status(0, n);
  ASSERT_EQ(chart.Items().size(), before + 1);
  EXPECT_NE(chart.Items().back().find(" 6 20"), std::string::npos);
  m.env.clock.Advance(700 * 1000);
  m.Status(0, n);
  // The polls of the silent link add none; the old samples are gone.
  EXPECT_EQ(chart.Items().size(), 1u);
}

// ---- Device record ---------------------------------------------------------------

Bytes Device() {
  Bytes d(512, 0);
  Put16(d, 0, 4321);
  std::memcpy(d.data() + 2, "356938035643809", 15);
  d[18] = 5;
  d[19] = 8;
  Put16(d, 20, 2018);
  Put16(d, 22, 612);
  d[24] = 3;
  d[25] = 0x31;
  Put16(d, 51, 30);
  Put32(d, 74, -2);
  Put16(d, 90, 120);
  for (int i = 0; i < 5; ++i) Put32(d, 162 + 4 * static_cast<size_t>(i), 100 + i);
  Put32(d, 162, 4294967295);
  d[214] = 2;
  Put16(d, 216, -7);
  Put16(d, 218, 9);
  Put16(d, 233, 118);
  return d;
}

TEST(Device, EveryReadoutOfACraftedRecord) {
  Monitor m;
  auto& c = m.w().controls;
  c["ModBusStr"].SetCell(0, 1, "1");
  c["ModBusStr"].SetCell(0, 3, "3");
  Bytes n = Nav();
  n[58] = 0x40;
  m.Status(0, n);
  m.Status(1, Device());
  EXPECT_EQ(m.Text("IMEICLOUD"), "356938035643809");
  EXPECT_EQ(m.Text("LDataToSend"), "T19 -2");
  EXPECT_EQ(m.Text("LNumber"), "T1 4321");
  EXPECT_EQ(m.Text("LIMEI"), "IMEI: 356938035643809");
  EXPECT_EQ(m.Text("LVer"), "T3 5 (build 2018.0612.03)");
  EXPECT_EQ(m.Text("LType"), "T0 RL20Vexa");
  EXPECT_EQ(m.Text("LGSMreg"), "T25 1");
  EXPECT_EQ(m.Text("LGPRSreg"), "T27 3");
  EXPECT_EQ(m.Text("Label42"), "Srv1:on");
  EXPECT_EQ(m.Text("LPerPack"), "T17 30 (120)");
  EXPECT_EQ(m.Text("Label62"), "T73-7");
  EXPECT_EQ(m.Text("Label64"), "T749");
  EXPECT_EQ(c["ModBusStr"].Cell(4, 1), "4294967295");
  EXPECT_EQ(c["ModBusStr"].Cell(4, 2), "");
  EXPECT_EQ(c["ModBusStr"].Cell(4, 3), "102");
  EXPECT_EQ(c["ModBusStr"].Cell(4, 5), "");
  EXPECT_EQ(m.Text("LCURRENTOP"), "T82");
  EXPECT_EQ(m.Text("Label74"), "FW_version: 1.18");
  EXPECT_EQ(m.w().transfer.TrackerImei, "356938035643809");

  // The engineer's own IMEI in the cloud field stays until the tracker's IMEI changes.
  c["IMEICLOUD"].SetText("111");
  m.Status(1, Device());
  EXPECT_EQ(m.Text("IMEICLOUD"), "111");
  Bytes other = Device();
  other[17] = '0';
  other[19] = 7;
  other[214] = 5;  // no such operator: the label keeps its text
  m.Status(1, other);
  EXPECT_EQ(m.Text("IMEICLOUD"), "3569380356438090");
  EXPECT_EQ(m.Text("LType"), "T0 unknow device");
  EXPECT_EQ(m.Text("LCURRENTOP"), "T82");
  // Sixteen digits without a terminating zero are the whole IMEI.
  EXPECT_EQ(m.w().transfer.TrackerImei, "3569380356438090");
}

TEST(Device, AnAllZeroRecord) {
  Monitor m;
  m.Status(1, Bytes(512, 0));
  EXPECT_EQ(m.Text("LNumber"), "T1 0");
  EXPECT_EQ(m.Text("LIMEI"), "IMEI: ");
  EXPECT_EQ(m.Text("LVer"), "T3 0 (build 0000.0000.00)");
  EXPECT_EQ(m.Text("LGSMreg"), "T25 0");
  EXPECT_EQ(m.Text("Label74"), "");
  EXPECT_FALSE(m.w().controls["GNSSUPD"].Visible());
  EXPECT_EQ(m.Text("LCURRENTOP"), "T80");
}

TEST(Device, TheReceiverUpdateHint) {
  Monitor m;
  auto& w = m.w();
  w.settings.MTK3333FW = 118;
  Bytes d = Device();
  Put16(d, 233, 105);
  w.link.DevicePresent = true;
  m.Status(1, d);
  EXPECT_EQ(m.Text("Label74"), "FW_version: 1.05");
  EXPECT_TRUE(w.controls["GNSSUPD"].Visible());
  ASSERT_TRUE(w.monitoring.Timer500ms->IsActive());
  const uint32_t before = w.controls["GNSSUPD"].FontColor();
  m.env.clock.Advance(500);
  EXPECT_NE(w.controls["GNSSUPD"].FontColor(), before);  // it blinks

  Put16(d, 233, 118);
  m.Status(1, d);
  EXPECT_FALSE(w.controls["GNSSUPD"].Visible());
  EXPECT_FALSE(w.monitoring.Timer500ms->IsActive());

  // Through the GPRS link (not on USB) the timer runs but the link stays hidden.
  w.link.DevicePresent = false;
  Put16(d, 233, 105);
  m.Status(1, d);
  EXPECT_FALSE(w.controls["GNSSUPD"].Visible());
  EXPECT_TRUE(w.monitoring.Timer500ms->IsActive());
  Put16(d, 233, 0);
  m.Status(1, d);
  EXPECT_FALSE(w.monitoring.Timer500ms->IsActive());
}

TEST(Device, TheFirmwareQueryRunsOncePerConnection) {
  fake::World world;
  world.Start();
  world.env.clock.Advance(3000);
  EXPECT_EQ(world.w().monitoring.FirmwareQueries, 1);
  EXPECT_TRUE(world.w().link.FwQueryDone);
  world.w().discovery.ClosePortConnection();
  world.env.clock.Advance(5000);
  EXPECT_TRUE(world.w().link.Connected);
  EXPECT_EQ(world.w().monitoring.FirmwareQueries, 2);
}

TEST(Device, AnImeiThatIsNotPlainDigitsNamesNoRememberedPassword) {
  Monitor m;
  auto& w = m.w();
  const std::string ini = "[Passes]\n356938035643809=77\n";
  m.env.dir.Write("config.ini", ini);
  for (const char* bad : {"12\r\n[Settings]", "1=2", "[Passes]", "", "35693803564380x", "3569 803564380"}) {
    Bytes d = Device();
    std::fill(d.begin() + 2, d.begin() + 18, 0);
    std::memcpy(d.data() + 2, bad, std::min<size_t>(std::strlen(bad), 16));
    m.Status(1, d);
    EXPECT_EQ(w.transfer.TrackerImei, "") << bad;
    EXPECT_EQ(w.settings.ReadPass(bad), 0) << bad;
    EXPECT_FALSE(w.settings.WritePass(bad, 5)) << bad;
  }
  EXPECT_FALSE(w.settings.WritePass("12345678901234567", 5));
  EXPECT_EQ(m.env.dir.Read("config.ini"), ini);
  EXPECT_EQ(w.settings.ReadPass("356938035643809"), 77);
  EXPECT_TRUE(monitor::IsValidImei("1"));
  EXPECT_TRUE(monitor::IsValidImei("1234567890123456"));
  EXPECT_FALSE(monitor::IsValidImei("12345678901234567"));
  EXPECT_FALSE(monitor::IsValidImei("12 4"));
}

// ---- Event log -------------------------------------------------------------------

TEST(EventLog, CodesBecomeTimeStampedLines) {
  Monitor m;
  auto& memo = m.w().controls["LOG_memo"];
  m.Answer(41, {0});
  EXPECT_TRUE(memo.Lines().empty());
  m.Answer(41, {2, 0, 5});
  ASSERT_EQ(memo.Lines().size(), 1u);
  // The fake clock's local time starts at 12:00:00; the link has run 0.6 s and more.
  EXPECT_EQ(memo.Lines()[0].substr(8), " - Питание включено");
  EXPECT_EQ(memo.Lines()[0].substr(0, 6), "12:00:");
  m.Answer(41, {2, 200, 17});
  ASSERT_EQ(memo.Lines().size(), 3u);
  EXPECT_EQ(memo.Lines()[1].substr(8), " - Code200");
  EXPECT_EQ(memo.Lines()[2].substr(8), " - Удар");
  // A count beyond the frame decodes only the codes that arrived.
  m.Answer(41, {9, 17});
  EXPECT_EQ(memo.Lines().size(), 4u);
  m.w().messages.LanguageName = "english";
  m.Answer(41, {1, 5});
  EXPECT_EQ(memo.Lines().back().substr(8), " - Power on");

  ASSERT_TRUE(m.w().controls.UserDblClick("LOG_memo"));
  EXPECT_TRUE(memo.Lines().empty());
  m.Answer(41, {1, 17});
  EXPECT_EQ(memo.Lines().size(), 1u);
}

TEST(EventLog, HoursArePaddedWithASpace) {
  Monitor m;
  // Local time 09:05:07 of the next day; the window's timers are stopped first.
  m.w().FormClose();
  m.env.clock.Advance((21 * 3600 + 5 * 60 + 7) * 1000LL - m.env.clock.Now());
  m.Answer(41, {1, 5});
  EXPECT_EQ(m.w().controls["LOG_memo"].Lines().back(), " 9:05:07 - Питание включено");
}

TEST(EventLog, TheMemoKeepsTheNewest10000Lines) {
  Monitor m;
  auto& memo = m.w().controls["LOG_memo"];
  Bytes many(256, 17);
  many[0] = 255;
  for (int i = 0; i < 40; ++i) m.Answer(41, many);
  m.Answer(41, {1, 5});
  EXPECT_LE(memo.Lines().size(), monitor::Monitoring::kMaxLogLines);
  EXPECT_GE(memo.Lines().size(), monitor::Monitoring::kMaxLogLines - monitor::Monitoring::kLogDropBatch);
  for (int i = 0; i < 20; ++i) m.Answer(41, many);
  EXPECT_LE(memo.Lines().size(), monitor::Monitoring::kMaxLogLines);
  m.Answer(41, {1, 5});
  EXPECT_NE(memo.Lines().back().find("Питание"), std::string::npos);
}

TEST(EventLog, SaveLogWritesTheLinesWithTheirTimeStamps) {
  Monitor m;
  m.Answer(41, {2, 5, 17});
  const std::string path = m.env.dir.File("events.txt");
  m.env.dialogs.QueueSave(path);
  ASSERT_TRUE(m.w().controls.UserClick("SaveLog"));
  const auto& lines = m.w().controls["LOG_memo"].Lines();
  EXPECT_EQ(m.env.dir.Read("events.txt"), lines[0] + "\n" + lines[1] + "\n");
  // Cancelled: nothing written, nothing shown.
  m.env.dialogs.QueueSave(std::nullopt);
  m.w().controls.UserClick("SaveLog");
  EXPECT_TRUE(m.shown.empty());
  // A folder that does not exist: a clear message.
  m.env.dialogs.QueueSave(m.env.dir.File("no/such/dir/x.txt"));
  m.w().controls.UserClick("SaveLog");
  ASSERT_EQ(m.shown.size(), 1u);
  EXPECT_NE(m.shown[0].find("no/such/dir"), std::string::npos);
}

// ---- Against the simulator ---------------------------------------------------------

TEST(LivingTracker, PageOneFollowsTheSimulator) {
  sim::SimConfig config;
  config.living = true;
  config.imei = "353000000000042";
  config.events = {5};
  fake::World world(config);
  world.env.dir.Write("language.lng", LanguageFile());
  world.w().link.AutoReadConfig = false;
  world.Start();
  world.env.clock.Advance(1500);
  auto& c = world.w().controls;
  EXPECT_EQ(c["LIMEI"].Text(), "IMEI: 353000000000042");
  EXPECT_EQ(c["LVer"].Text(), "T3 5 (build 2018.0612.03)");
  EXPECT_EQ(c["LGSMreg"].Text(), "T25 1");
  EXPECT_EQ(c["Label74"].Text(), "FW_version: 1.18");
  ASSERT_EQ(c["LOG_memo"].Lines().size(), 1u);
  EXPECT_NE(c["LOG_memo"].Lines()[0].find("Питание включено"), std::string::npos);
  const std::string lat = c["LLat"].Text();
  const std::string time = c["LDateTime"].Text();
  EXPECT_EQ(time, "T4 01.01.2026 00:00:00");
  EXPECT_EQ(lat, "T5 55,750000");

  world.sim.Advance(35000);
  world.env.clock.Advance(600);
  EXPECT_EQ(c["LDateTime"].Text(), "T4 01.01.2026 00:00:35");
  EXPECT_EQ(c["LLat"].Text(), "T5 55,753500");
  EXPECT_NE(c["LSpeed"].Text(), "T8 0,0");
  EXPECT_EQ(c["LCourse"].Text(), "T9 0,0");
  // A key was presented at 30 s and is gone again at 35 s; events came at 20 s.
  EXPECT_EQ(c["LiBut"].Text(), "T30 000000000000");
  EXPECT_EQ(c["LOG_memo"].Lines().size(), 2u);
  world.sim.Advance(26000);
  world.env.clock.Advance(600);
  EXPECT_EQ(c["LiBut"].Text(), "T30 00D5C4B3A201");
}

}  // namespace
}  // namespace rlv
