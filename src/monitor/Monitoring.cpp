#include "monitor/Monitoring.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "app/MainWindow.h"
#include "link/Codepage.h"
#include "monitor/RecordLayout.h"
#include "platform/Files.h"

namespace rlv::monitor {

namespace {

using namespace layout;

constexpr int kCsqMax = 31;
// The links and the GNSS update hint in the design colour; the hint blinks
// red, design colour, green.
constexpr uint32_t kLinkColor = ui::Rgb(62, 98, 170);
constexpr uint32_t kBlinkRed = ui::Rgb(255, 0, 0);
constexpr uint32_t kBlinkGreen = ui::Rgb(0, 128, 0);

int16_t S16(const uint8_t* p) {
  return static_cast<int16_t>(link::GetU16(p));
}
int32_t S32(const uint8_t* p) {
  return static_cast<int32_t>(link::GetU32(p));
}

}  // namespace

Civil CivilFromSeconds(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  Civil c{};
  c.year = yoe + era * 400 + (m <= 2 ? 1 : 0);
  c.month = static_cast<int>(m);
  c.day = static_cast<int>(d);
  c.hour = static_cast<int>(rest / 3600);
  c.minute = static_cast<int>(rest / 60 % 60);
  c.second = static_cast<int>(rest % 60);
  return c;
}

// ---- Readout helpers -----------------------------------------------------------

std::string DecimalReadout(int64_t value, int64_t divisor, int digits) {
  const bool negative = value < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const auto d = static_cast<uint64_t>(divisor);
  char text[64];
  std::snprintf(text, sizeof text, "%s%llu,%0*llu", negative ? "-" : "",
                static_cast<unsigned long long>(magnitude / d), digits,
                static_cast<unsigned long long>(magnitude % d));
  return text;
}

std::string UtcDateTimeText(uint32_t seconds) {
  const Civil c = CivilFromSeconds(seconds);
  char text[64];
  std::snprintf(text, sizeof text, "%.2d.%.2d.%.2lld %.2d:%.2d:%.2d", c.day, c.month,
                static_cast<long long>(c.year), c.hour, c.minute, c.second);
  return text;
}

std::string WorkTimeParts(uint32_t seconds) {
  const Civil c = CivilFromSeconds(seconds);
  std::string out;
  const auto part = [&out](int64_t count, const char* unit) {
    if (count > 0) out += std::to_string(count) + unit;
  };
  part(c.year - 1970, "y ");
  part(c.month - 1, "m ");
  part(c.day - 1, "d ");
  part(c.hour, "h ");
  part(c.minute, "min ");
  out += std::to_string(c.second) + "sec";
  return out;
}

std::string TemperatureToString(int8_t code, const std::string& sensor_error, const std::string& no_data) {
  switch (code) {
    case -128:
      return "---";
    case -127:
      return sensor_error;
    case -126:
      return no_data;
    default:
      return std::to_string(code);
  }
}

std::string OnOffToString(bool on) {
  return on ? "on" : "off";
}

std::string KeyCodeText(const uint8_t* key) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2X%.2X%.2X%.2X%.2X%.2X", key[5], key[4], key[3], key[2], key[1],
                key[0]);
  return text;
}

std::string ImeiField(const uint8_t* field) {
  size_t n = 0;
  while (n < kDevImeiSize && field[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(field), n);
}

bool IsValidImei(std::string_view imei) {
  if (imei.empty() || imei.size() > kDevImeiSize) return false;
  return std::all_of(imei.begin(), imei.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

// ---- Monitoring ------------------------------------------------------------------

Monitoring::Monitoring(app::MainWindow& w) : w_(w) {
  if (w_.plat.timers != nullptr) {
    Timer500ms = w_.CreateTimer([this] { Timer500msTimer(); });
    Timer500ms->SetInterval(500);
  }
}

Monitoring::~Monitoring() {
  if (Timer500ms) Timer500ms->Stop();
}

void Monitoring::SetText(const char* name, const std::string& text) {
  if (ui::Control* c = w_.controls.Find(name)) c->SetText(text);
}

void Monitoring::StoreNavigationRecord(const uint8_t* data, size_t count) {
  const size_t n = std::min(count, NavigationRecord.size());
  if (n > 0 && data != nullptr) std::memcpy(NavigationRecord.data(), data, n);
}

void Monitoring::StoreDeviceRecord(const uint8_t* data, size_t count) {
  const size_t n = std::min(count, DeviceRecord.size());
  if (n > 0 && data != nullptr) std::memcpy(DeviceRecord.data(), data, n);
}

void Monitoring::ClearRecords() {
  NavigationRecord.fill(0);
  DeviceRecord.fill(0);
  // The next tracker may be another one: no password is keyed by the last one's IMEI.
  w_.transfer.TrackerImei.clear();
}

std::string Monitoring::Imei() const {
  return ImeiField(DeviceRecord.data() + kDevImei);
}

Monitoring::Build Monitoring::TrackerBuild() const {
  const uint8_t* r = DeviceRecord.data();
  return Build{r[kDevVersion], link::GetU16(r + kDevBuild1), link::GetU16(r + kDevBuild2), r[kDevBuild3]};
}

// ---- Controls ------------------------------------------------------------------

void Monitoring::DeclareControls(ui::ControlModel& m) {
  using ui::Kind;
  const auto label = [&m](const std::string& name, const std::string& parent,
                          const std::string& caption) -> ui::Control& {
    ui::Control& c = m.Add(name, Kind::Label, parent);
    c.SetText(caption);
    return c;
  };
  // A group is a frame; its caption is a bold label at its top, which the
  // [Strings] keys and the automation reach by the label's name.
  const auto group = [&m, &label](const std::string& name, const std::string& caption_label,
                                  const std::string& caption) {
    m.Add(name, Kind::GroupBox, "TabSheet2");
    label(caption_label, name, caption).SetBold(true);
  };
  // Position and motion.
  group("GroupNavigation", "Label21", "Навигация");
  label("LDateTime", "GroupNavigation", "Дата и время:");
  label("LLat", "GroupNavigation", "Широта:");
  label("LLon", "GroupNavigation", "Долгота:");
  label("LValid", "GroupNavigation", "Координаты:");
  label("LSat", "GroupNavigation", "Видимых спутников:");
  label("LHDOP", "GroupNavigation", "Горизонтальная точность:");
  label("LHeight", "GroupNavigation", "Высота:");
  label("LSpeed", "GroupNavigation", "Скорость:");
  label("LCourse", "GroupNavigation", "Дирекционный угол:");
  label("LOdo", "GroupNavigation", "Одометр, м:");
  label("Label322", "GroupNavigation", "Объект:");
  label("Lreceiver", "GroupNavigation", "");
  // Inputs, output, key.
  group("GroupInputs", "Label23", "Состояние входов и выхода");
  label("LIN1", "GroupInputs", "Вход1:");
  label("LIN2", "GroupInputs", "Вход2:");
  label("LOUT1", "GroupInputs", "Выход1:");
  label("LiBut", "GroupInputs", "Код ключа iButton:");
  label("LTemp", "GroupInputs", "Внутренняя температура:");
  // Fuel level sensors.
  group("GroupFuel", "Label61", "Датчики уровня топлива");
  label("FuelLev1", "GroupFuel", "Уровень 1:");
  label("FuelLev2", "GroupFuel", "Уровень 2:");
  // The accelerometer.
  group("GroupAccel", "Label24", "Акселерометр");
  label("Label25", "GroupAccel", "Значения по осям");
  label("LAccel_X", "GroupAccel", "X:");
  label("LAccel_Y", "GroupAccel", "Y:");
  label("LAccel_Z", "GroupAccel", "Z:");
  // 1-Wire temperatures.
  group("GroupTemperatures", "Label26", "Датчики 1-Wire");
  label("LTemp1", "GroupTemperatures", "Внешняя темп. 1:");
  label("LTemp2", "GroupTemperatures", "Внешняя темп. 2:");
  for (int n = 3; n <= 8; ++n) {
    label("LTemp" + std::to_string(n), "GroupTemperatures", "t. " + std::to_string(n) + ":");
  }
  // The tracker itself.
  group("GroupDevice", "Label27", "Информация о приборе");
  label("LType", "GroupDevice", "Тип прибора:");
  label("LNumber", "GroupDevice", "ID устройства:");
  // The IMEI's caption copies it like the link beside it.
  label("Label30", "GroupDevice", "IMEI").SetFontColor(kLinkColor);
  label("LIMEI", "GroupDevice", "IMEI:");
  label("CopyIMEI", "GroupDevice", "Копировать").SetFontColor(kLinkColor);
  label("LVer", "GroupDevice", "Версия ПО:");
  label("Label74", "GroupDevice", "");
  ui::Control& update = label("GNSSUPD", "GroupDevice", "Обновить");
  update.SetFontColor(kLinkColor);
  update.SetVisible(false);
  label("WorkTime", "GroupDevice", "Время работы, сек:");
  label("LDataToSend", "GroupDevice", "Данных на передачу:");
  label("LPerPack", "GroupDevice", "Период записи пакетов:");
  label("Label62", "GroupDevice", "");
  label("Label64", "GroupDevice", "");
  // GSM and the server link, with the chart of the last ten minutes.
  group("GroupGsm", "Label321", "Состояние прибора");
  label("LGSMreg", "GroupGsm", "Состояние GSM:");
  label("LGPRSreg", "GroupGsm", "Состояние GPRS:");
  label("Label42", "GroupGsm", "Соединение с сервером:");
  label("LCsq", "GroupGsm", "Уровень сигнала GSM:");
  m.Add("GSM_CSQ", Kind::Meter, "GroupGsm").SetRange(0, kCsqMax);
  ui::Control& chart = m.Add("StatusChart", Kind::Chart, "GroupGsm");
  chart.SetText("Спутники и сигнал GSM, 10 мин");
  chart.SetRange(0, kCsqMax);
  // The event log and the track erase.
  m.Add("GroupDiagnostic", Kind::GroupBox, "TabSheet2");
  label("Label22", "GroupDiagnostic", "Диагностика");
  m.Add("LOG_memo", Kind::Memo, "GroupDiagnostic");
  m.Add("SaveLog", Kind::Button, "GroupDiagnostic").SetText("Сохранить журнал…");
  m.Add("DeleteTrack", Kind::Button, "GroupDiagnostic").SetText("Удалить трек");
}

void Monitoring::BindHandlers() {
  ui::ControlModel& c = w_.controls;
  c.On("LOG_memo", ui::Event::DblClick, [this](const ui::EventArgs&) { LOG_memoDblClick(); });
  c.On("SaveLog", ui::Event::Click, [this](const ui::EventArgs&) { SaveLogClick(); });
}

// ---- Monitoring texts ------------------------------------------------------------

void Monitoring::LoadMonitoringTexts() {
  const auto doc = w_.messages.LoadLanguageFile();
  for (int n = 0; n < kTextCount; ++n) {
    std::string value;
    if (doc) {
      if (auto v = doc->Get("Monitoring", "Str" + std::to_string(n))) value = *v;
    }
    MonitoringTexts[static_cast<size_t>(n)] = w_.messages.ReadLangStr(value);
  }
  for (size_t code = 0; code < EventTexts.size(); ++code) {
    const std::string key = "Code" + std::to_string(code);
    std::optional<std::string> value;
    if (doc) value = doc->Get("Diagnostic", key);
    EventTexts[code] = w_.messages.ReadLangStr(value ? *value : key);
  }
  texts_language_ = w_.messages.LanguageName;
  texts_loaded_ = true;
}

void Monitoring::Rerender() {
  const auto received = [](const auto& record) {
    return std::any_of(record.begin(), record.end(), [](uint8_t b) { return b != 0; });
  };
  // The readouts of records that arrived are shown again; nothing else
  // happens that a record's arrival does (no chart sample, no key, no query).
  rerendering_ = true;
  if (received(NavigationRecord)) Refresh_GPS();
  if (received(DeviceRecord)) Refresh_DEVICE();
  rerendering_ = false;
}

void Monitoring::EnsureTexts() {
  if (!texts_loaded_ || texts_language_ != w_.messages.LanguageName) LoadMonitoringTexts();
}

const std::string& Monitoring::T(int n) const {
  static const std::string kEmpty;
  if (n < 0 || n >= kTextCount) return kEmpty;
  return MonitoringTexts[static_cast<size_t>(n)];
}

// ---- Navigation status -----------------------------------------------------------

std::string Monitoring::TemperatureToString(int8_t code) const {
  return monitor::TemperatureToString(code, T(53), T(52));
}

std::string Monitoring::MonStrByInputType(int input) const {
  const int i = input == 1 ? 1 : 0;
  const uint8_t type = DeviceRecord[kDevInputTypes + static_cast<size_t>(i)];
  const uint16_t value = link::GetU16(NavigationRecord.data() + kNavInput1 + 2 * static_cast<size_t>(i));
  if (type == 1) return ui::FormatInt(T(58), i + 1) + std::to_string(value);
  if (type == 2 || type == 3) return ui::FormatInt(T(59), i + 1) + std::to_string(value);
  char number[32];
  std::snprintf(number, sizeof number, "%.3f", value * 0.001);
  const char separator = w_.plat.locale != nullptr ? w_.plat.locale->DecimalSeparator() : '.';
  std::string text = number;
  std::replace(text.begin(), text.end(), '.', separator);
  return ui::FormatInt(T(20), i + 1) + text;
}

void Monitoring::Refresh_GPS() {
  EnsureTexts();
  const uint8_t* r = NavigationRecord.data();
  const std::string sp = " ";

  SetText("LDateTime", T(4) + sp + UtcDateTimeText(link::GetU32(r + kNavTime)));
  SetText("LLat", T(5) + sp + DecimalReadout(S32(r + kNavLat), 1000000, 6));
  SetText("LLon", T(6) + sp + DecimalReadout(S32(r + kNavLon), 1000000, 6));
  SetText("LSat", T(10) + sp + std::to_string(r[kNavSats]));
  SetText("LHDOP", T(11) + sp + DecimalReadout(r[kNavHdop], 10, 1));
  SetText("LHeight", T(7) + sp + std::to_string(S16(r + kNavAltitude)));
  SetText("LSpeed", T(8) + sp + DecimalReadout(link::GetU16(r + kNavSpeed), 10, 1));
  SetText("LCourse", T(9) + sp + DecimalReadout(S16(r + kNavCourse), 10, 1));
  SetText("LOdo", T(57) + sp + std::to_string(S32(r + kNavOdometer)));
  SetText("LIN1", MonStrByInputType(0));
  SetText("LIN2", MonStrByInputType(1));
  for (int i = 0; i < 2; ++i) {
    const auto k = static_cast<size_t>(i);
    const std::string level = std::to_string(link::GetU16(r + kNavFuelLevel1 + 2 * k));
    const std::string temp = std::to_string(static_cast<int8_t>(r[kNavFuelTemp1 + k]));
    // Each readout names its sensor: T31 takes the number, or is followed by it.
    std::string caption = ui::FormatInt(T(31), i + 1);
    if (caption == T(31)) caption += sp + std::to_string(i + 1);
    SetText(i == 0 ? "FuelLev1" : "FuelLev2", caption + sp + level + " (" + temp + ")");
  }
  const std::string key = KeyCodeText(r + kNavKey);
  SetText("LiBut", T(30) + sp + key);
  if (!rerendering_) w_.config.AddKeyCodeToString(key);
  SetText("LTemp1", ui::FormatIntText(T(29), 1, TemperatureToString(static_cast<int8_t>(r[kNavTemp1]))));
  SetText("LTemp2", ui::FormatIntText(T(29), 2, TemperatureToString(static_cast<int8_t>(r[kNavTemp2]))));
  for (int n = 3; n <= 8; ++n) {
    const auto code = static_cast<int8_t>(r[kNavTemp3 + static_cast<size_t>(n - 3)]);
    char text[64];
    std::snprintf(text, sizeof text, "t.%d: ", n);
    const std::string name = "LTemp" + std::to_string(n);
    SetText(name.c_str(), text + TemperatureToString(code));
  }
  SetText("LValid", T(12) + sp + ((r[kNavValid] & 0x01) != 0 ? T(44) : T(45)));
  SetText("LOUT1", ui::FormatInt(T(21), 1) + OnOffToString((r[kNavOutput] & 0x01) != 0));
  SetText("Label322", (r[kNavFlags] & 0x01) != 0 ? T(56) : T(55));
  if (ui::Control* receiver = w_.controls.Find("Lreceiver")) {
    switch ((r[kNavReceiver] >> 1) & 0x03) {
      case 0:
        receiver->SetText("");
        receiver->SetColor(kWhite);
        break;
      case 1:
        receiver->SetText(T(49));
        receiver->SetColor(kLightRed);
        break;
      case 2:
        receiver->SetText(T(50));
        receiver->SetColor(kLightGreen);
        break;
      default:
        receiver->SetText(T(51));
        receiver->SetColor(kLightRed);
        break;
    }
  }
  SetText("LTemp", T(24) + std::to_string(static_cast<int8_t>(r[kNavInternalTemp])));
  SetText("LAccel_X", "X: " + std::to_string(S16(r + kNavAccel)));
  SetText("LAccel_Y", "Y: " + std::to_string(S16(r + kNavAccel + 2)));
  SetText("LAccel_Z", "Z: " + std::to_string(S16(r + kNavAccel + 4)));
  SetText("WorkTime", T(79) + WorkTimeParts(link::GetU32(r + kNavWorkTime)));
  const int csq = static_cast<int8_t>(r[kNavCsq]);
  SetText("LCsq", T(26) + sp + std::to_string(csq));
  if (ui::Control* meter = w_.controls.Find("GSM_CSQ")) meter->SetPosition(std::clamp(csq, 0, kCsqMax));
  if (rerendering_) return;
  AddChartSample(r[kNavSats], csq);
  // The calibration angle follows the X and Y values while the movement step runs.
  if (w_.link.FastNavPoll) w_.vehicle.TrackMovement(S16(r + kNavAccel), S16(r + kNavAccel + 2));
}

// One sample a second for the last ten minutes: "seconds satellites csq".
void Monitoring::AddChartSample(int satellites, int csq) {
  ui::Control* chart = w_.controls.Find("StatusChart");
  if (chart == nullptr || w_.plat.clock == nullptr) return;
  const int64_t now = platform::SecondsSince1970(w_.plat.clock->LocalNow());
  if (now == last_sample_second_) return;
  last_sample_second_ = now;
  std::vector<std::string> items;
  items.reserve(chart->Items().size() + 1);
  for (const std::string& item : chart->Items()) {
    long long t = 0;
    // Samples older than ten minutes (or from a clock set back) are dropped.
    if (std::sscanf(item.c_str(), "%lld", &t) == 1 && t > now - static_cast<int64_t>(kChartSamples) &&
        t <= now) {
      items.push_back(item);
    }
  }
  if (items.size() >= kChartSamples) items.erase(items.begin(), items.end() - (kChartSamples - 1));
  items.push_back(std::to_string(now) + " " + std::to_string(satellites) + " " + std::to_string(csq));
  chart->SetItems(std::move(items));
}

// ---- Device status ---------------------------------------------------------------

void Monitoring::Refresh_DEVICE() {
  EnsureTexts();
  const uint8_t* r = DeviceRecord.data();
  const std::string sp = " ";
  const std::string imei = Imei();
  // The transfer keys the remembered password by it; only a plain IMEI may be a key.
  w_.transfer.TrackerImei = IsValidImei(imei) ? imei : std::string();
  const std::string shown = link::Cp1251ToUtf8(imei);

  // What the engineer types into the cloud page's field stays until the tracker changes.
  if (shown != cloud_imei_) {
    cloud_imei_ = shown;
    SetText("IMEICLOUD", shown);
  }
  SetText("LDataToSend", T(19) + sp + std::to_string(S32(r + kDevBacklog)));
  SetText("LNumber", T(1) + sp + std::to_string(link::GetU16(r + kDevId)));
  SetText("LIMEI", "IMEI: " + shown);
  char build[64];
  std::snprintf(build, sizeof build, " (build %.4d.%.4d.%.2d)", link::GetU16(r + kDevBuild1),
                link::GetU16(r + kDevBuild2), r[kDevBuild3]);
  SetText("LVer", T(3) + sp + std::to_string(r[kDevVersion]) + build);
  SetText("LType", T(0) + sp + link::PortDiscovery::TypeDeviceToString(r[kDevType]));
  SetText("LGSMreg", T(25) + sp + std::to_string(r[kDevRegistration] & 0x0F));
  SetText("LGPRSreg", T(27) + sp + std::to_string(r[kDevRegistration] >> 4));
  SetText("Label42", ui::FormatIntText(T(28), 1, OnOffToString((NavigationRecord[kNavFlags] & 0x40) != 0)));
  SetText("LPerPack", T(17) + sp + std::to_string(link::GetU16(r + kDevPeriod1)) + " (" +
                          std::to_string(link::GetU16(r + kDevPeriod2)) + ")");
  if (!w_.link.FwQueryDone && !rerendering_) {
    w_.link.FwQueryDone = true;
    ++FirmwareQueries;
    w_.updates.GetFirmwareVersionFromServer();
  }
  SetText("Label62", T(73) + std::to_string(S16(r + kDevDiagA)));
  SetText("Label64", T(74) + std::to_string(S16(r + kDevDiagB)));
  if (ui::Control* grid = w_.controls.Find("ModBusStr")) {
    for (int row = 1; row <= 5 && row < grid->Rows(); ++row) {
      if (grid->Cell(0, row).empty()) continue;
      const uint32_t value = link::GetU32(r + kDevModbus + 4 * static_cast<size_t>(row - 1));
      grid->SetCell(4, row, std::to_string(value));
    }
  }
  const uint8_t op = r[kDevOperator];
  if (op <= 4) SetText("LCURRENTOP", T(80 + op));

  const uint16_t gnss = link::GetU16(r + kDevGnssVersion);
  ui::Control* update = w_.controls.Find("GNSSUPD");
  if (gnss == 0) {
    SetText("Label74", "");
    if (update != nullptr) update->SetVisible(false);
    if (Timer500ms) Timer500ms->Stop();
    return;
  }
  char version[48];
  std::snprintf(version, sizeof version, "FW_version: %d.%.2d", gnss / 100, gnss % 100);
  SetText("Label74", version);
  if (gnss < w_.settings.MTK3333FW) {
    if (Timer500ms && !Timer500ms->IsActive()) Timer500ms->Start();
    if (update != nullptr && w_.link.DevicePresent) update->SetVisible(true);
  } else {
    if (update != nullptr) update->SetVisible(false);
    if (Timer500ms) Timer500ms->Stop();
  }
}

void Monitoring::Timer500msTimer() {
  ui::Control* update = w_.controls.Find("GNSSUPD");
  if (update == nullptr) return;
  // Red, then the design colour, then green, then red again.
  const uint32_t now = update->FontColor();
  update->SetFontColor(now == kBlinkRed ? kLinkColor : now == kBlinkGreen ? kBlinkRed : kBlinkGreen);
}

// ---- Event log -------------------------------------------------------------------

void Monitoring::Log_decode(uint8_t code) {
  if (code == 0) return;
  ui::Control* memo = w_.controls.Find("LOG_memo");
  if (memo == nullptr) return;
  EnsureTexts();
  const std::string& text = EventTexts[code];
  platform::DateTime now{};
  if (w_.plat.clock != nullptr) now = w_.plat.clock->LocalNow();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%2d:%02d:%02d - ", now.hour, now.minute, now.second);
  if (memo->Lines().size() >= kMaxLogLines) {
    // The oldest lines go a batch at a time, so a full memo is not rebuilt for every line.
    const auto keep = static_cast<std::ptrdiff_t>(kMaxLogLines - kLogDropBatch);
    std::string joined;
    for (auto line = memo->Lines().end() - keep; line != memo->Lines().end(); ++line) {
      if (!joined.empty() || line != memo->Lines().end() - keep) joined += '\n';
      joined += *line;
    }
    memo->SetText(joined);
  }
  memo->AddLine(stamp + text);
}

void Monitoring::LOG_memoDblClick() {
  if (ui::Control* memo = w_.controls.Find("LOG_memo")) memo->SetText("");
}

void Monitoring::SaveLogClick() {
  const ui::Control* memo = w_.controls.Find("LOG_memo");
  if (memo == nullptr || w_.plat.dialogs == nullptr) return;
  auto path = w_.plat.dialogs->SaveFile(
      w_.messages.GetStringOr("Window", "JournalFilter", "Текстовые файлы (*.txt)|*.txt"), "txt",
      w_.DataPath("journal.txt"));
  if (!path || path->empty()) return;
  // A relative name, as the automation mode may give, is a file of the data folder.
  path = w_.ResolveDataPath(*path);
  std::vector<uint8_t> content;
  for (const std::string& line : memo->Lines()) {
    content.insert(content.end(), line.begin(), line.end());
    content.push_back('\n');
  }
  std::string why;
  if (!w_.Files().Replace(*path, content, &why)) {
    w_.messages.MessageShow(w_.messages.GetMessageA(46) + ": " + *path +
                            (why.empty() ? "" : " (" + why + ")"));
  }
}

}  // namespace rlv::monitor
