#include "config/Configuration.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "app/MainWindow.h"
#include "config/ConfigControls.h"
#include "config/Editor.h"
#include "link/Bytes.h"
#include "link/Codepage.h"
#include "link/Crc.h"

namespace rlv::config {

namespace {

using link::GetU16;
using link::GetU32;
using link::PutU16;
using link::PutU32;

// Offsets of the main record.
constexpr size_t kPassword = 5;
constexpr size_t kDeviceId = 9;
constexpr size_t kFlags11 = 11;
constexpr size_t kFlags12 = 12;
constexpr size_t kFlags13 = 13;
constexpr size_t kFlags14 = 14;
constexpr size_t kOperator = 15;
constexpr size_t kApn = 16;
constexpr size_t kApnSize = 41;
constexpr size_t kServerHost = 61;
constexpr size_t kServerHostSize = 24;
constexpr size_t kServerPort = 85;
constexpr size_t kPhone = 87;
constexpr size_t kPhoneSize = 15;
constexpr size_t kTrackMode = 102;
constexpr size_t kDataTagMask = 126;
constexpr size_t kStatusTagMask = 158;
constexpr size_t kInput1 = 190;
constexpr size_t kInput2 = 198;
constexpr size_t kOutputMode = 206;
constexpr size_t kKeyCodes = 210;
constexpr size_t kRs485Device = 256;
constexpr size_t kRs485Baud = 257;
constexpr size_t kFuel1 = 261;
constexpr size_t kFuel2 = 262;
constexpr size_t kModbus = 263;
constexpr size_t kCanPattern = 348;
constexpr int kCanPatternCount = 5;
constexpr size_t kWriteTime = 349;
constexpr size_t kUpdateIp = 353;
constexpr size_t kUpdatePort = 357;
constexpr size_t kConfigPort = 359;
constexpr size_t kCalibration = 361;
constexpr size_t kTachoModel = 368;
constexpr size_t kTachoAuth = 369;
constexpr size_t kProtocol = 385;
constexpr size_t kMcc = 386;
constexpr size_t kMnc = 396;
constexpr size_t kCrc = 510;

// The pattern number as stored: one that no pattern has (above 5) reads as none.
int StoredPattern(const uint8_t* b) {
  return b[kCanPattern] <= kCanPatternCount ? b[kCanPattern] : 0;
}
// The pattern chosen on the page, never outside 0..5.
uint8_t ChosenPattern(const ui::Control& mode) {
  return static_cast<uint8_t>(std::clamp(mode.Index(), 0, kCanPatternCount));
}

// The plain numbers of the track settings panel: control, offset, width in bytes.
struct NumberField {
  const char* control;
  size_t offset;
  int width;
};
constexpr NumberField kTrackFields[] = {
    {"TimePark", 103, 1},        {"Perpackstop", 104, 2},   {"Perpackstop2", 106, 2},
    {"Timeoutstop", 110, 2},     {"Perpackmove", 112, 2},   {"Packdist", 114, 2},
    {"Filterlineangel", 116, 1}, {"Minspeedangel", 117, 1}, {"Minangel", 118, 1},
};
constexpr NumberField kFilterFields[] = {
    {"Maxspeed", 120, 1}, {"Minspeed", 121, 1}, {"Maxdist", 123, 1},
    {"MINWRINT", 124, 1}, {"MINSATS", 125, 1},
};
constexpr size_t kAccelSens = 108;
constexpr size_t kMaxHdop = 119;
constexpr size_t kMaxAccel = 122;

// The second record: tenths fields (signed bytes) and plain numbers.
constexpr NumberField kStyleTenths[] = {
    {"BrakingLevel", 5, 1}, {"AccelerationLevel", 6, 1}, {"SkidLevel", 8, 1}};
constexpr NumberField kStyleNumbers[] = {
    {"CourceLevel", 7, 1},         {"PerevorotLevel", 12, 1}, {"Tilt0Level", 13, 1},
    {"Tilt1Level", 14, 1},         {"AgressParam1", 15, 1},   {"AgressParam2", 16, 1},
    {"MaxSpeedLevel", 17, 1},      {"MaxSpeedAngle", 18, 1},  {"MinRadiusAngle", 19, 1},
    {"SavePowerAfterStop", 20, 2},
};

// Check boxes and their bits: control, byte, bit.
struct FlagBit {
  const char* control;
  size_t byte;
  int bit;
};
constexpr FlagBit kFlagBits[] = {
    {"OUTONINCALLING", kFlags11, 3},           {"ONOUTIFKEYVALID", kFlags11, 4},
    {"ALARMNOTVALIDKEY", kFlags11, 5},         {"NotWrPointF", kFlags12, 3},
    {"EnDrivingStyle", kFlags13, 5},           {"MODBUSMODE", kFlags13, 6},
    {"StopWriteIfSavePowerMode", kFlags13, 7}, {"VeryLowPower", kFlags14, 0},
};

constexpr uint8_t kInputConstant[7] = {0x88, 0x13, 0x88, 0x13, 0x0A, 0xFF, 0xFF};

struct Preset {
  const char* braking;
  const char* acceleration;
};
constexpr Preset kPresets[5] = {
    {"2,1", "2,0"}, {"2,1", "2,0"}, {"1,5", "1,5"}, {"1,0", "2,0"}, {"1,0", "2,0"}};

// Tag ranges of the structure tree's blocks: block, kind (0 data, 1 status), first, last tag.
struct TagRange {
  int block;
  int kind;
  int first;
  int last;
};
constexpr TagRange kTagRanges[] = {
    {0, 0, 0, 15},   {1, 0, 16, 31},   {2, 0, 32, 63},   {3, 0, 64, 79},   {4, 0, 80, 95},
    {5, 0, 96, 109}, {6, 0, 110, 207}, {7, 0, 208, 223}, {8, 0, 224, 255}, {16, 1, 0, 15},
    {17, 1, 16, 31}, {18, 1, 32, 47},  {19, 1, 48, 63},  {20, 1, 64, 79},  {21, 1, 80, 111},
};

void Store(uint8_t* record, size_t offset, int width, int64_t value) {
  if (width == 1) {
    record[offset] = static_cast<uint8_t>(value);
  } else if (width == 2) {
    PutU16(record + offset, static_cast<uint16_t>(value));
  } else {
    PutU32(record + offset, static_cast<uint32_t>(value));
  }
}

uint32_t Load(const uint8_t* record, size_t offset, int width) {
  if (width == 1) return record[offset];
  if (width == 2) return GetU16(record + offset);
  return GetU32(record + offset);
}

// The zero-terminated text of a fixed field, as UTF-8.
std::string FieldText(const uint8_t* record, size_t offset, size_t size) {
  size_t n = 0;
  while (n < size && record[offset + n] != 0) ++n;
  return link::Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(record + offset), n));
}

}  // namespace

void Configuration::LocalizeDesignedDecimals() {
  const char sep = Separator();
  if (sep == ',') return;
  for (const char* name : {"BrakingLevel", "AccelerationLevel", "SkidLevel"}) {
    ui::Control& edit = w_.controls[name];
    std::string text = edit.Text();
    std::replace(text.begin(), text.end(), ',', sep);
    edit.SetText(text);
  }
}

char Configuration::Separator() const {
  return w_.plat.locale != nullptr ? w_.plat.locale->DecimalSeparator() : ',';
}

int32_t Configuration::Int(const char* control) const {
  return UserStrToInt(w_.controls[control].Text());
}

int32_t Configuration::Tenths(const char* control) const {
  return UserStrToTenths(w_.controls[control].Text(), Separator());
}

void Configuration::ShowInt(const char* control, long long value) {
  w_.controls[control].SetText(std::to_string(value));
}

// Copies a text into a fixed field with room for its terminating zero; a text
// that does not fit stops the build.
void Configuration::WriteText(size_t offset, const std::string& text, size_t field_size, const char* field) {
  const std::string bytes = link::Utf8ToCp1251(text);
  if (bytes.size() > field_size - 1) throw FieldTooLong(field, field_size - 1);
  std::memcpy(ConfigBlock1.data() + offset, bytes.data(), bytes.size());
}

bool Configuration::ReadConfigFromObjects() {
  const bool english = w_.messages.LanguageName == "english";
  try {
    Write_config();
    Write_config2();
    return true;
  } catch (const ConversionError& e) {
    ShowConversionError(e);
  } catch (const FieldTooLong& e) {
    const std::string limit = std::to_string(e.Limit());
    w_.messages.MessageShow(
        english ? "The text of \"" + e.Field() + "\" is too long: at most " + limit + " characters"
                : "Слишком длинный текст в поле \"" + e.Field() + "\": не более " + limit + " символов");
  }
  return false;
}

void Configuration::ShowConversionError(const ConversionError& e) {
  w_.messages.MessageShow(w_.messages.LanguageName == "english" ? "\"" + e.Text() + "\" is not a valid number"
                                                                : "\"" + e.Text() + "\" не является числом");
}

void Configuration::WriteConfigToObjects() {
  Read_config();
  Read_config2();
}

void Configuration::Write_config() {
  ui::ControlModel& c = w_.controls;
  uint8_t* b = ConfigBlock1.data();
  ConfigBlock1.fill(0);
  const uint8_t header[5] = {0xAC, 1, 1, 1, 8};
  std::memcpy(b, header, sizeof header);

  const auto password = static_cast<uint16_t>(Int("CONFPASS"));
  PutU16(b + kPassword, password);
  PutU16(b + kDeviceId, static_cast<uint16_t>(Int("ID_Device")));
  if (password != 0) b[kFlags12] |= 0x20;

  if (c["CALLSMSFROMALL"].Checked()) b[kFlags11] |= 0x03;
  for (const FlagBit& f : kFlagBits) {
    if (c[f.control].Checked()) b[f.byte] |= static_cast<uint8_t>(1u << f.bit);
  }

  b[kOperator] = static_cast<uint8_t>(c["OPERATOR"].Index());
  {
    // The APN keeps at most 40 characters: the field's last byte is always 0.
    const std::string apn = link::Utf8ToCp1251(c["UserAPN"].Text());
    std::memcpy(b + kApn, apn.data(), std::min(apn.size(), kApnSize));
    b[kApn + kApnSize - 1] = 0;
  }
  const std::string server = c["SERVERIP"].Text();
  const size_t colon = server.find(':');
  if (colon == std::string::npos) {
    PutU16(b + kServerPort, static_cast<uint16_t>(LeadingNumber(server)));
  } else {
    WriteText(kServerHost, server.substr(0, colon), kServerHostSize, "SERVERIP");
    PutU16(b + kServerPort, static_cast<uint16_t>(LeadingNumber(std::string_view(server).substr(colon + 1))));
  }
  WriteText(kPhone, c["DISPNUMBER"].Text(), kPhoneSize, "DISPNUMBER");

  const int track_mode = c["TRACKTYPE"].Index();
  b[kTrackMode] = static_cast<uint8_t>(track_mode);
  for (const NumberField& f : kTrackFields) Store(b, f.offset, f.width, Int(f.control));
  PutU16(b + kAccelSens,
         static_cast<uint16_t>(std::trunc(UserStrToFloat(c["Accel_sens"].Text(), Separator()))));
  if (track_mode == 2) {
    b[kMaxHdop] = static_cast<uint8_t>(Tenths("MaxHdop"));
    b[kMaxAccel] = static_cast<uint8_t>(Tenths("Maxaccel"));
    for (const NumberField& f : kFilterFields) Store(b, f.offset, f.width, Int(f.control));
  }

  for (auto [offset, control] : {std::pair{kInput1, "IN1TYPE"}, std::pair{kInput2, "IN2TYPE"}}) {
    b[offset] = static_cast<uint8_t>((c[control].Index() & 0x0F) | 0x30);
    std::memcpy(b + offset + 1, kInputConstant, sizeof kInputConstant);
  }
  b[kOutputMode] = static_cast<uint8_t>(c["OUTTYPE"].Index());
  b[kOutputMode + 1] = static_cast<uint8_t>(Int("OUTIMPULS"));
  b[kOutputMode + 2] = static_cast<uint8_t>(Int("OUTPAUSE"));
  b[kOutputMode + 3] = static_cast<uint8_t>(Int("OUTPERIOD"));

  if (c["WIREKEYOPTION"].Index() == 1) b[kFlags12] |= 0x40;
  for (int i = 0; i < 5; ++i) {
    KeyCodeFromStringToArray(c["KEY" + std::to_string(i + 1)].Text(),
                             b + kKeyCodes + 6 * static_cast<size_t>(i));
  }

  b[kRs485Device] = static_cast<uint8_t>(c["RS485DEVICE"].Index());
  const ui::Control& baud = c["RS485BAUD"];
  PutU32(b + kRs485Baud, static_cast<uint32_t>(baud.Index() >= 0 ? UserStrToInt(baud.Text()) : 0));
  b[kFuel1] = static_cast<uint8_t>(Int("FUEL1"));
  b[kFuel2] = static_cast<uint8_t>(Int("FUEL2"));

  ItemCheckedToStruct();
  if ((b[kFlags13] & 0x20) != 0) {
    const size_t word5 = kStatusTagMask + 10;
    PutU16(b + word5, static_cast<uint16_t>(GetU16(b + word5) | 0x8020));
  }
  WriteModbus();

  b[kCanPattern] = ChosenPattern(c["CANBUSMODE"]);
  if ((w_.link.DeviceOptions & 0x01) != 0) w_.vehicle.LoadDataToCANBUSStruct();

  {
    // Four dotted parts; a missing inner part counts as 0 ("1.2.3" gives 1, 2, 0, 3).
    std::string rest = c["IPUPDATE"].Text();
    for (size_t i = 0; i < 3; ++i) {
      const size_t dot = rest.find('.');
      std::string part;
      if (dot != std::string::npos) {
        part = rest.substr(0, dot);
        rest = rest.substr(dot + 1);
      }
      b[kUpdateIp + i] = static_cast<uint8_t>(UserStrToInt(part));
    }
    b[kUpdateIp + 3] = static_cast<uint8_t>(UserStrToInt(rest));
  }
  PutU16(b + kUpdatePort, static_cast<uint16_t>(Int("UPDPORT")));
  PutU16(b + kConfigPort, static_cast<uint16_t>(Int("CONFPORT")));

  const platform::DateTime now = w_.plat.clock->LocalNow();
  // Rounded to the nearest second.
  const int64_t seconds = platform::SecondsSince1970(now) + (now.millisecond >= 500 ? 1 : 0);
  PutU32(b + kWriteTime, static_cast<uint32_t>(seconds));

  b[kFlags13] = static_cast<uint8_t>((b[kFlags13] & ~0x17) | 0x08 | (c["CANBAUD"].Index() & 0x07));
  b[kCanPattern] = ChosenPattern(c["CANBUSMODE"]);
  if (b[kCanPattern] != 0) b[kFlags12] |= 0x80;

  const int tacho_model = c["TACHOMODEL"].Index();
  b[kTachoModel] = static_cast<uint8_t>(tacho_model);
  if (tacho_model == 1) {
    b[kTachoAuth] = static_cast<uint8_t>(Int("TACHOUSER"));
    PutU32(b + kTachoAuth + 1, static_cast<uint32_t>(Int("TACHOPASS")));
  } else if (tacho_model == 2) {
    WriteText(kTachoAuth, c["TACHOPASS"].Text(), 16, "TACHOPASS");
  }

  b[kProtocol] = static_cast<uint8_t>(c["Protocol"].Index());
  for (size_t i = 0; i < 3; ++i) {
    PutU16(b + kCalibration + 2 * i, static_cast<uint16_t>(w_.vehicle.Calibration[i]));
  }
  const ui::Control& mcc = c["MCCMNCGRID"];
  for (int row = 1; row <= 5; ++row) {
    const auto i = static_cast<size_t>(row - 1);
    PutU16(b + kMcc + 2 * i, static_cast<uint16_t>(UserStrToInt(mcc.Cell(0, row))));
    b[kMnc + i] = static_cast<uint8_t>(UserStrToInt(mcc.Cell(1, row)));
  }
  PutU16(b + kCrc, link::Crc16(b, kCrc));
}

void Configuration::Read_config() {
  ui::ControlModel& c = w_.controls;
  const uint8_t* b = ConfigBlock1.data();
  const char sep = Separator();

  ShowInt("CONFPASS", GetU16(b + kPassword));
  ShowInt("ID_Device", GetU16(b + kDeviceId));
  c["CALLSMSFROMALL"].SetChecked((b[kFlags11] & 0x01) != 0);
  for (const FlagBit& f : kFlagBits) c[f.control].SetChecked(((b[f.byte] >> f.bit) & 1) != 0);

  c["OPERATOR"].SetIndex(b[kOperator]);
  OPERATORChange();
  c["UserAPN"].SetText(FieldText(b, kApn, kApnSize));
  c["SERVERIP"].SetText(FieldText(b, kServerHost, kServerHostSize) + ":" +
                        std::to_string(GetU16(b + kServerPort)));
  c["DISPNUMBER"].SetText(FieldText(b, kPhone, kPhoneSize));

  c["TRACKTYPE"].SetIndex(b[kTrackMode]);
  for (const NumberField& f : kTrackFields) ShowInt(f.control, Load(b, f.offset, f.width));
  ShowInt("Accel_sens", GetU16(b + kAccelSens));
  for (const NumberField& f : kFilterFields) ShowInt(f.control, Load(b, f.offset, f.width));
  c["MaxHdop"].SetText(ShortTenths(b[kMaxHdop], sep));
  c["Maxaccel"].SetText(ShortTenths(b[kMaxAccel], sep));

  c["IN1TYPE"].SetIndex(b[kInput1] & 0x0F);
  c["IN2TYPE"].SetIndex(b[kInput2] & 0x0F);
  c["OUTTYPE"].SetIndex(b[kOutputMode]);
  OUTTYPEChange();
  ShowInt("OUTIMPULS", b[kOutputMode + 1]);
  ShowInt("OUTPAUSE", b[kOutputMode + 2]);
  ShowInt("OUTPERIOD", b[kOutputMode + 3]);

  c["WIREKEYOPTION"].SetIndex((b[kFlags12] >> 6) & 1);
  for (int i = 0; i < 5; ++i) {
    c["KEY" + std::to_string(i + 1)].SetText(KeyCodeToString(b + kKeyCodes + 6 * static_cast<size_t>(i)));
  }

  c["RS485DEVICE"].SetIndex(b[kRs485Device]);
  RS485DEVICEChange();
  {
    ui::Control& baud = c["RS485BAUD"];
    const std::string text = std::to_string(GetU32(b + kRs485Baud));
    for (size_t i = 0; i < baud.Items().size(); ++i) {
      if (baud.Items()[i] == text) {
        baud.SetIndex(static_cast<int>(i));
        break;
      }
    }
  }
  ShowInt("FUEL1", b[kFuel1]);
  ShowInt("FUEL2", b[kFuel2]);
  ReadModbus();

  c["CANBUSMODE"].SetIndex(StoredPattern(b));
  CANBUSMODEChange();
  if (StoredPattern(b) != 0) w_.vehicle.StructCANIDFromDeviceToPattern(StoredPattern(b));

  char ip[32];
  std::snprintf(ip, sizeof ip, "%d.%d.%d.%d", b[kUpdateIp], b[kUpdateIp + 1], b[kUpdateIp + 2],
                b[kUpdateIp + 3]);
  c["IPUPDATE"].SetText(ip);
  ShowInt("UPDPORT", GetU16(b + kUpdatePort));
  ShowInt("CONFPORT", GetU16(b + kConfigPort));

  c["CANBAUD"].SetIndex(b[kFlags13] & 0x07);
  c["CANBUSMODE"].SetIndex(StoredPattern(b));

  c["TACHOMODEL"].SetIndex(b[kTachoModel]);
  if (b[kTachoModel] == 1) {
    ShowInt("TACHOUSER", b[kTachoAuth]);
    ShowInt("TACHOPASS", GetU32(b + kTachoAuth + 1));
  } else if (b[kTachoModel] == 2) {
    c["TACHOUSER"].SetText("");
    c["TACHOPASS"].SetText(FieldText(b, kTachoAuth, 16));
  }
  w_.vehicle.TACHOMODELChange();

  c["Protocol"].SetIndex(b[kProtocol]);
  for (size_t i = 0; i < 3; ++i) {
    w_.vehicle.Calibration[i] = static_cast<int16_t>(GetU16(b + kCalibration + 2 * i));
  }
  ui::Control& mcc = c["MCCMNCGRID"];
  for (int row = 1; row <= 5; ++row) {
    const auto i = static_cast<size_t>(row - 1);
    mcc.SetCell(0, row, std::to_string(GetU16(b + kMcc + 2 * i)));
    mcc.SetCell(1, row, std::to_string(b[kMnc + i]));
  }
  StructToItemChecked();
}

void Configuration::Write_config2() {
  uint8_t* b = ConfigBlock2.data();
  ConfigBlock2.fill(0);
  const uint8_t header[4] = {0xAB, 1, 2, 1};
  std::memcpy(b, header, sizeof header);
  // In offset order, so that a bad text stops the build at the first field it meets.
  b[5] = static_cast<uint8_t>(Tenths("BrakingLevel"));
  b[6] = static_cast<uint8_t>(Tenths("AccelerationLevel"));
  b[7] = static_cast<uint8_t>(Int("CourceLevel"));
  b[8] = static_cast<uint8_t>(Tenths("SkidLevel"));
  for (const NumberField& f : kStyleNumbers) {
    if (f.offset > 8) Store(b, f.offset, f.width, Int(f.control));
  }
  PutU16(b + kCrc, link::Crc16(b, kCrc));
}

void Configuration::Read_config2() {
  const uint8_t* b = ConfigBlock2.data();
  for (const NumberField& f : kStyleTenths) {
    w_.controls[f.control].SetText(FixedTenths(static_cast<int8_t>(b[f.offset]), Separator()));
  }
  for (const NumberField& f : kStyleNumbers) ShowInt(f.control, Load(b, f.offset, f.width));
}

void Configuration::Load_default() {
  ui::ControlModel& c = w_.controls;
  shown_tag_masks_.fill(0);
  c["OPERATOR"].SetIndex(0);
  OPERATORChange();
  c["UserAPN"].SetText("");
  c["CONFPASS"].SetText("9723");
  c["SERVERIP"].SetText(std::string(kDefaultTelematicsServer) + ":21114");

  c["TRACKTYPE"].SetIndex(0);
  c["DISPNUMBER"].SetText("+7");
  c["CALLSMSFROMALL"].SetChecked(true);

  c["IN1TYPE"].SetIndex(5);
  c["IN2TYPE"].SetIndex(4);
  c["OUTTYPE"].SetIndex(0);
  OUTTYPEChange();
  c["OUTIMPULS"].SetText("10");
  c["OUTPAUSE"].SetText("10");
  c["OUTPERIOD"].SetText("1");
  c["OUTONINCALLING"].SetChecked(false);

  c["WIREKEYOPTION"].SetIndex(0);
  c["ONOUTIFKEYVALID"].SetChecked(false);
  c["ALARMNOTVALIDKEY"].SetChecked(true);
  for (int i = 1; i <= 5; ++i) c["KEY" + std::to_string(i)].SetText("");

  c["RS485DEVICE"].SetIndex(1);
  RS485DEVICEChange();
  c["RS485BAUD"].SetIndex(2);
  c["CANBUSMODE"].SetIndex(0);
  CANBUSMODEChange();
  c["FUEL1"].SetText("1");
  c["FUEL2"].SetText("0");

  c["IPUPDATE"].SetText(kDefaultUpdateServer);
  c["UPDPORT"].SetText("10500");
  c["CONFPORT"].SetText("10895");

  w_.transfer.SetConfigPath("default.fcg");
  ModBusStrClear();

  c["CANBUSMODE"].SetIndex(0);
  c["CANBAUD"].SetIndex(3);

  c["TACHOMODEL"].SetIndex(2);
  c["TACHOUSER"].SetText("0");
  c["TACHOPASS"].SetText(kDefaultTachoPassword);
  w_.vehicle.TACHOMODELChange();

  c["ID_Device"].SetText("0");
  c["Protocol"].SetIndex(0);

  const std::pair<const char*, const char*> style[] = {
      {"BrakingLevel", "3,0"},  {"AccelerationLevel", "3,0"}, {"CourceLevel", "100"},  {"SkidLevel", "3,0"},
      {"PerevorotLevel", "90"}, {"Tilt0Level", "35"},         {"Tilt1Level", "35"},    {"AgressParam1", "2"},
      {"AgressParam2", "20"},   {"MaxSpeedLevel", "90"},      {"MaxSpeedAngle", "40"},
  };
  const char sep = Separator();
  for (auto [control, value] : style) {
    std::string text = value;
    for (char& ch : text) {
      if (ch == ',') ch = sep;
    }
    c[control].SetText(text);
  }

  c["StopWriteIfSavePowerMode"].SetChecked(false);
  c["SavePowerAfterStop"].SetText("0");
  MCCMNCClear();
  c["NotWrPointF"].SetChecked(true);

  ui::Control& tree = c["RzCheckTree1"];
  for (size_t i = 0; i < tree.Nodes().size(); ++i) {
    const int tag = tree.Nodes()[i].tag;
    tree.SetNodeChecked(static_cast<int>(i), tag == 16 || tag == 17 || tag == 26);
  }
}

// ---- Editing rules ----------------------------------------------------------

void Configuration::OPERATORChange() {
  const int index = w_.controls["OPERATOR"].Index();
  w_.controls["UserAPN"].SetVisible(index == 5);
  w_.controls["Button10"].SetVisible(index == 0);
}

void Configuration::OUTTYPEChange() {
  const int index = w_.controls["OUTTYPE"].Index();
  w_.controls["OUTINPPARAM"].SetVisible(index == 4);
  w_.controls["OUTONINCALLING"].SetVisible(index != 0);
}

void Configuration::RS485DEVICEChange() {
  const int index = w_.controls["RS485DEVICE"].Index();
  w_.controls["DEVICEPAGE"].SetIndex(index >= 0 && index <= 4 ? index : -1);
  w_.controls["MODBUSMODE"].SetVisible(index == 2);
}

void Configuration::CANBUSMODEChange() {
  ui::ControlModel& c = w_.controls;
  const ui::Control& mode = c["CANBUSMODE"];
  if (mode.Index() <= 0) {
    if (ui::Control* editor = c.Find("PatternPanel")) editor->SetVisible(false);
    c["Label19"].SetText("");
    return;
  }
  if (ui::Control* title = c.Find("Label44")) title->SetText(mode.Text());
  CurrentPattern = mode.Index();
  w_.vehicle.ReadPattern(CurrentPattern);
}

void Configuration::TRACKTYPEChange() {
  w_.controls["StructPanel"].SetVisible(w_.controls["TRACKTYPE"].Index() == 2);
}

void Configuration::PresetABChange() {
  const int index = w_.controls["PresetAB"].Index();
  if (index < 0 || index >= 5) return;
  const char sep = Separator();
  auto local = [sep](std::string text) {
    for (char& ch : text) {
      if (ch == ',') ch = sep;
    }
    return text;
  };
  w_.controls["BrakingLevel"].SetText(local(kPresets[index].braking));
  w_.controls["AccelerationLevel"].SetText(local(kPresets[index].acceleration));
}

void Configuration::AddKeyCodeToString(const std::string& text) {
  if (w_.controls["RzPageControl1"].Index() != 0) return;
  const bool present = (w_.monitoring.NavigationRecord[55] & 0x01) != 0;
  if (present == KeyPresentLast) return;
  KeyPresentLast = present;
  if (!present) return;
  const std::string& focused = w_.controls.Focused();
  for (int i = 1; i <= 5; ++i) {
    if (focused == "KEY" + std::to_string(i)) w_.controls[focused].SetText(text);
  }
}

// ---- Accessory tables ----------------------------------------------------------

void Configuration::ModBusStrClear() {
  ui::Control& grid = w_.controls["ModBusStr"];
  for (int row = 1; row < grid.Rows(); ++row) {
    for (int col = 0; col < grid.Cols(); ++col) grid.SetCell(col, row, "");
  }
}

void Configuration::MCCMNCClear() {
  ui::Control& grid = w_.controls["MCCMNCGRID"];
  for (int row = 1; row <= 5; ++row) {
    grid.SetCell(0, row, "");
    grid.SetCell(1, row, "");
  }
}

void Configuration::WriteModbus() {
  const ui::Control& grid = w_.controls["ModBusStr"];
  uint8_t* b = ConfigBlock1.data();
  size_t k = 0;
  for (int row = 1; row <= 5; ++row) {
    if (grid.Cell(0, row).empty() || grid.Cell(1, row).empty() || grid.Cell(2, row).empty()) continue;
    uint8_t* entry = b + kModbus + 7 * k;
    entry[0] = static_cast<uint8_t>(UserStrToInt(grid.Cell(0, row)));
    entry[1] = static_cast<uint8_t>(UserStrToInt(grid.Cell(1, row)));
    PutU16(entry + 2, static_cast<uint16_t>(UserStrToInt(grid.Cell(2, row))));
    entry[4] = static_cast<uint8_t>(UserStrToInt(grid.Cell(3, row)));
    entry[5] = 5;
    entry[6] = static_cast<uint8_t>(k);
    const size_t word12 = kDataTagMask + 24;
    PutU16(b + word12, static_cast<uint16_t>(GetU16(b + word12) | (1u << k)));
    ++k;
  }
}

void Configuration::ReadModbus() {
  ModBusStrClear();
  ui::Control& grid = w_.controls["ModBusStr"];
  const uint8_t* b = ConfigBlock1.data();
  for (int k = 0; k < 5; ++k) {
    const uint8_t* entry = b + kModbus + 7 * static_cast<size_t>(k);
    if (entry[0] == 0) continue;
    grid.SetCell(0, k + 1, std::to_string(entry[0]));
    grid.SetCell(1, k + 1, std::to_string(entry[1]));
    grid.SetCell(2, k + 1, std::to_string(GetU16(entry + 2)));
    grid.SetCell(3, k + 1, std::to_string(entry[4]));
  }
}

void Configuration::ReadStructParamFromIni() {
  ui::Control& tree = w_.controls["RzCheckTree1"];
  tree.ClearNodes();
  const platform::IniDocument* doc = w_.messages.LanguageDocument();
  if (!doc) return;
  auto text = [&](const char* section, const std::string& key) {
    return w_.messages.ReadLangStr(doc->Get(section, key).value_or(""));
  };
  for (int block = 0; block < 32; ++block) {
    const std::string title = text("StructBlocks", "Bl" + std::to_string(block));
    if (title.empty()) continue;
    ui::TreeNode node;
    node.text = title;
    const int parent = tree.AddNode(node);
    for (const TagRange& range : kTagRanges) {
      if (range.block != block) continue;
      for (int tag = range.first; tag <= range.last; ++tag) {
        const std::string name = range.kind == 0 ? text("DataTags", "DT" + std::to_string(tag))
                                                 : text("StatusTags", "ST" + std::to_string(tag));
        if (name.empty()) continue;
        ui::TreeNode child;
        child.text = name;
        child.parent = parent;
        child.tag = tag;
        child.kind = range.kind;
        tree.AddNode(child);
      }
    }
  }
}

void Configuration::ItemCheckedToStruct() {
  uint8_t* b = ConfigBlock1.data();
  const auto& nodes = w_.controls["RzCheckTree1"].Nodes();
  if (std::none_of(nodes.begin(), nodes.end(), [](const ui::TreeNode& n) { return n.tag >= 0; })) {
    std::memcpy(b + kDataTagMask, shown_tag_masks_.data(), shown_tag_masks_.size());
    return;
  }
  std::memset(b + kDataTagMask, 0, 64);
  for (const ui::TreeNode& node : nodes) {
    if (node.tag < 0 || node.tag > 255 || !node.checked) continue;
    const size_t word =
        (node.kind == 0 ? kDataTagMask : kStatusTagMask) + 2 * static_cast<size_t>(node.tag / 16);
    PutU16(b + word, static_cast<uint16_t>(GetU16(b + word) | (1u << (node.tag % 16))));
  }
}

void Configuration::StructToItemChecked() {
  const uint8_t* b = ConfigBlock1.data();
  std::memcpy(shown_tag_masks_.data(), b + kDataTagMask, shown_tag_masks_.size());
  ui::Control& tree = w_.controls["RzCheckTree1"];
  for (size_t i = 0; i < tree.Nodes().size(); ++i) {
    const ui::TreeNode& node = tree.Nodes()[i];
    bool checked = false;
    if (node.tag >= 0 && node.tag <= 255) {
      const size_t word =
          (node.kind == 0 ? kDataTagMask : kStatusTagMask) + 2 * static_cast<size_t>(node.tag / 16);
      checked = ((GetU16(b + word) >> (node.tag % 16)) & 1) != 0;
    }
    tree.SetNodeChecked(static_cast<int>(i), checked);
  }
}

}  // namespace rlv::config
