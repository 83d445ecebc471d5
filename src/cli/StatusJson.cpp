#include "cli/StatusJson.h"

#include <cstdio>
#include <vector>

#include "link/PortDiscovery.h"
#include "monitor/Monitoring.h"
#include "monitor/RecordLayout.h"

namespace rlv::cli {

namespace {

// A record read at explicit offsets; bytes beyond its end read as zero.
class Record {
 public:
  explicit Record(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint8_t U8(size_t at) const { return at < bytes_.size() ? bytes_[at] : 0; }
  int8_t S8(size_t at) const { return static_cast<int8_t>(U8(at)); }
  uint16_t U16(size_t at) const { return static_cast<uint16_t>(U8(at) | U8(at + 1) << 8); }
  int16_t S16(size_t at) const { return static_cast<int16_t>(U16(at)); }
  uint32_t U32(size_t at) const {
    return static_cast<uint32_t>(U16(at)) | static_cast<uint32_t>(U16(at + 2)) << 16;
  }
  int32_t S32(size_t at) const { return static_cast<int32_t>(U32(at)); }

 private:
  std::span<const uint8_t> bytes_;
};

using namespace monitor::layout;

std::string Hex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

// A temperature code in degrees; null for no sensor (-128), a sensor error (-127) and no data (-126).
std::string Temperature(int8_t code) {
  return code <= -126 ? std::string("null") : std::to_string(code);
}

const char* InputTypeName(uint8_t type) {
  switch (type) {
    case 0:
      return "analogue";
    case 1:
      return "frequency";
    case 2:
    case 3:
      return "counting";
    case 4:
      return "ignition";
    case 5:
      return "alarm_button";
    case 6:
      return "engine_hours";
    default:
      return "other";
  }
}

// The object's members, comma-separated.
class Object {
 public:
  Object& Add(const char* key, const std::string& json) {
    out_ += (out_.size() > 1 ? "," : "") + JsonString(key) + ":" + json;
    return *this;
  }
  std::string Done() const { return out_ + "}"; }

 private:
  std::string out_ = "{";
};

std::string Array(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i > 0 ? "," : "") + items[i];
  return out + "]";
}

std::string Bool(bool on) {
  return on ? "true" : "false";
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string IsoUtcTime(int64_t seconds) {
  const monitor::Civil c = monitor::CivilFromSeconds(seconds);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02dZ", static_cast<long long>(c.year),
                c.month, c.day, c.hour, c.minute, c.second);
  return text;
}

std::string ScaledDecimal(int64_t value, int digits) {
  // At most 18 digits: 10^18 still fits.
  const int places = digits < 0 ? 0 : digits > 18 ? 18 : digits;
  uint64_t divisor = 1;
  for (int i = 0; i < places; ++i) divisor *= 10;
  const bool negative = value < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string out = (negative ? "-" : "") + std::to_string(magnitude / divisor);
  if (places == 0) return out;
  const std::string fraction = std::to_string(magnitude % divisor);
  return out + "." + std::string(static_cast<size_t>(places) - fraction.size(), '0') + fraction;
}

std::string StatusJson(const std::string& port, std::span<const uint8_t> device,
                       std::span<const uint8_t> navigation) {
  const Record d(device);
  const Record n(navigation);
  const bool nav = !navigation.empty();
  const auto when = [nav](const std::string& json) { return nav ? json : std::string("null"); };

  std::string imei;
  for (size_t i = 0; i < kDevImeiSize && d.U8(kDevImei + i) != 0; ++i)
    imei += static_cast<char>(d.U8(kDevImei + i));
  char build[32];
  std::snprintf(build, sizeof build, "%04u.%04u.%02u", d.U16(kDevBuild1), d.U16(kDevBuild2),
                d.U8(kDevBuild3));
  const uint16_t gnss = d.U16(kDevGnssVersion);
  char gnss_text[16];
  std::snprintf(gnss_text, sizeof gnss_text, "%u.%02u", gnss / 100u, gnss % 100u);

  Object out;
  out.Add("port", JsonString(port))
      .Add("imei", JsonString(imei))
      .Add("device_id", std::to_string(d.U16(kDevId)))
      .Add("device_type", std::to_string(d.U8(kDevType)))
      .Add("device_name", JsonString(link::PortDiscovery::TypeDeviceToString(d.U8(kDevType))))
      .Add("firmware",
           Object().Add("version", std::to_string(d.U8(kDevVersion))).Add("build", JsonString(build)).Done())
      .Add("gnss_firmware", gnss == 0 ? std::string("null") : JsonString(gnss_text))
      .Add("gsm", Object()
                      .Add("registration", std::to_string(d.U8(kDevRegistration) & 0x0F))
                      .Add("gprs", std::to_string(d.U8(kDevRegistration) >> 4))
                      .Add("signal_csq", when(std::to_string(n.S8(kNavCsq))))
                      .Add("server_connected", when(Bool((n.U8(kNavFlags) & 0x40) != 0)))
                      .Add("operator", std::to_string(d.U8(kDevOperator)))
                      .Done())
      .Add("record_period", Array({std::to_string(d.U16(kDevPeriod1)), std::to_string(d.U16(kDevPeriod2))}))
      .Add("data_to_send", std::to_string(d.S32(kDevBacklog)));

  out.Add("time", when(JsonString(IsoUtcTime(n.U32(kNavTime)))))
      .Add("valid", when(Bool((n.U8(kNavValid) & 0x01) != 0)))
      .Add("latitude", when(ScaledDecimal(n.S32(kNavLat), 6)))
      .Add("longitude", when(ScaledDecimal(n.S32(kNavLon), 6)))
      .Add("altitude_m", when(std::to_string(n.S16(kNavAltitude))))
      .Add("speed_kmh", when(ScaledDecimal(n.U16(kNavSpeed), 1)))
      .Add("course_deg", when(ScaledDecimal(n.S16(kNavCourse), 1)))
      .Add("satellites", when(std::to_string(n.U8(kNavSats))))
      .Add("hdop", when(ScaledDecimal(n.U8(kNavHdop), 1)))
      .Add("odometer_km", when(ScaledDecimal(n.S32(kNavOdometer), 3)))
      .Add("receiver_state", when(std::to_string((n.U8(kNavReceiver) >> 1) & 0x03)));
  std::vector<std::string> inputs;
  for (size_t i = 0; i < 2; ++i) {
    const uint8_t type = d.U8(kDevInputTypes + i);
    const uint16_t raw = n.U16(kNavInput1 + 2 * i);
    // Frequency and counting inputs are counts; the others read in thousandths.
    const bool count = type == 1 || type == 2 || type == 3;
    inputs.push_back(Object()
                         .Add("type", JsonString(InputTypeName(type)))
                         .Add("value", count ? std::to_string(raw) : ScaledDecimal(raw, 3))
                         .Add("raw", std::to_string(raw))
                         .Done());
  }
  out.Add("inputs", when(Array(inputs))).Add("outputs", when(Array({Bool((n.U8(kNavOutput) & 0x01) != 0)})));
  std::vector<std::string> fuel;
  for (size_t i = 0; i < 2; ++i) {
    fuel.push_back(Object()
                       .Add("level", std::to_string(n.U16(kNavFuelLevel1 + 2 * i)))
                       .Add("temperature_c", Temperature(n.S8(kNavFuelTemp1 + i)))
                       .Done());
  }
  std::vector<std::string> onewire = {Temperature(n.S8(kNavTemp1)), Temperature(n.S8(kNavTemp2))};
  for (size_t i = 0; i < 6; ++i) onewire.push_back(Temperature(n.S8(kNavTemp3 + i)));
  bool key = false;
  uint8_t key_bytes[6];
  for (size_t i = 0; i < 6; ++i) {
    key_bytes[i] = n.U8(kNavKey + i);
    key = key || key_bytes[i] != 0;
  }
  out.Add("fuel", when(Array(fuel)))
      .Add("temperature_c", when(std::to_string(n.S8(kNavInternalTemp))))
      .Add("onewire_c", when(Array(onewire)))
      .Add("key", when(key ? JsonString(monitor::KeyCodeText(key_bytes)) : std::string("null")))
      .Add("accelerometer", when(Object()
                                     .Add("x", std::to_string(n.S16(kNavAccel)))
                                     .Add("y", std::to_string(n.S16(kNavAccel + 2)))
                                     .Add("z", std::to_string(n.S16(kNavAccel + 4)))
                                     .Done()))
      .Add("work_time_s", when(std::to_string(n.U32(kNavWorkTime))));
  out.Add("device_record", JsonString(Hex(device)))
      .Add("navigation_record", nav ? JsonString(Hex(navigation)) : std::string("null"));
  return out.Done();
}

}  // namespace rlv::cli
