#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "link/Bytes.h"

namespace rlv::app {
class MainWindow;
}
namespace rlv::ui {
class ControlModel;
}
namespace rlv::platform {
class ITimer;
}

namespace rlv::monitor {

// ---- Readout helpers -----------------------------------------------------------

// A scaled value as its integer quotient, a literal comma and the remainder of
// `digits` digits, computed on the absolute value with one minus sign in front
// of a negative value ("-0,000005", "60,5"). Works for the whole 32-bit range.
std::string DecimalReadout(int64_t value, int64_t divisor, int digits);
// Seconds since 1970-01-01 00:00:00 UTC as "DD.MM.YYYY hh:mm:ss" (UTC).
std::string UtcDateTimeText(uint32_t seconds);
// The work time broken down as a date counted from 1970: "1y 2m 3d 4h 5min 6sec",
// each part but the seconds only when greater than 0.
std::string WorkTimeParts(uint32_t seconds);
// -128 "---", -127 `sensor_error`, -126 `no_data`, any other code in decimal.
std::string TemperatureToString(int8_t code, const std::string& sensor_error, const std::string& no_data);
std::string OnOffToString(bool on);
// The six key bytes (offset 0 = least significant) as 12 upper-case hex digits, most significant first.
std::string KeyCodeText(const uint8_t* key);
// The IMEI field of a device record: up to its zero byte, at most 16 bytes.
std::string ImeiField(const uint8_t* field);
// 1 to 16 ASCII digits: the only IMEI that may name a remembered password.
bool IsValidImei(std::string_view imei);

// The tracker's two status records and their readouts on the monitoring page,
// the running event log and the chart of satellites and GSM signal.
class Monitoring {
 public:
  static constexpr size_t kNavigationSize = 256;
  static constexpr size_t kDeviceSize = 512;
  static constexpr int kTextCount = 100;
  // The event memo keeps at most this many lines, dropping the oldest.
  static constexpr size_t kMaxLogLines = 10000;
  static constexpr size_t kLogDropBatch = 1000;
  // The chart keeps one sample a second for ten minutes.
  static constexpr size_t kChartSamples = 600;

  // Receiver-state colours of `Lreceiver`.
  static constexpr uint32_t kWhite = 0x00FFFFFFu;
  static constexpr uint32_t kLightRed = 0x008080FFu;    // RGB(255,128,128)
  static constexpr uint32_t kLightGreen = 0x008AFF8Au;  // RGB(138,255,138)

  explicit Monitoring(app::MainWindow& w);
  ~Monitoring();
  Monitoring(const Monitoring&) = delete;
  Monitoring& operator=(const Monitoring&) = delete;

  // The readouts of the monitoring page, the event memo and the chart.
  static void DeclareControls(ui::ControlModel& model);
  void BindHandlers();

  std::array<uint8_t, kNavigationSize> NavigationRecord{};
  std::array<uint8_t, kDeviceSize> DeviceRecord{};

  // Copies what the status answer carries (at most the record's size) to the
  // start of the record; the bytes after it keep their values.
  void StoreNavigationRecord(const uint8_t* data, size_t count);
  void StoreDeviceRecord(const uint8_t* data, size_t count);
  // Both records to zero and the tracker's IMEI forgotten (the link closed).
  void ClearRecords();

  // The 100 texts of [Monitoring] in the current language.
  std::array<std::string, kTextCount> MonitoringTexts;
  // The texts of the event codes ([Diagnostic] "Code<n>"), loaded with them;
  // empty where the language file has none.
  std::array<std::string, 256> EventTexts;
  void LoadMonitoringTexts();
  const std::string& T(int n) const;

  void Refresh_GPS();
  void Refresh_DEVICE();
  // Shows the readouts of the records held again, in the current language.
  void Rerender();
  std::string MonStrByInputType(int input) const;
  std::string TemperatureToString(int8_t code) const;

  // The event log.
  void Log_decode(uint8_t code);
  void LOG_memoDblClick();
  // "Save log…": the event memo as a text file, one time-stamped line a line.
  void SaveLogClick();

  // The GNSS update hint's blink.
  std::unique_ptr<platform::ITimer> Timer500ms;
  void Timer500msTimer();

  // The IMEI of the connected tracker as its device record carries it (empty
  // before the first device record of a connection).
  std::string Imei() const;
  // Times the update service was asked for the newest firmware.
  int FirmwareQueries = 0;
  // The firmware build the device record reports.
  struct Build {
    uint8_t version = 0;
    uint16_t build1 = 0;
    uint16_t build2 = 0;
    uint8_t build3 = 0;
  };
  Build TrackerBuild() const;

 private:
  void SetText(const char* name, const std::string& text);
  void AddChartSample(int satellites, int csq);
  void EnsureTexts();

  app::MainWindow& w_;
  std::string texts_language_;
  bool texts_loaded_ = false;
  std::string cloud_imei_;
  int64_t last_sample_second_ = -1;
  bool blink_ = false;
  bool rerendering_ = false;
};

}  // namespace rlv::monitor
