#include "config/Editor.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "ui/Controls.h"

namespace rlv::config {

namespace {

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

}  // namespace

int32_t UserStrToInt(std::string_view text) {
  if (text.empty()) return 0;
  std::string_view t = TrimLeft(text);
  bool negative = false;
  if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  if (t.empty() || t.front() < '0' || t.front() > '9') throw ConversionError(std::string(text));
  int64_t value = 0;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (ec != std::errc() || ptr != t.data() + t.size()) throw ConversionError(std::string(text));
  if (negative) value = -value;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    throw ConversionError(std::string(text));
  }
  return static_cast<int32_t>(value);
}

double UserStrToFloat(std::string_view text, char separator) {
  std::string_view t = TrimLeft(text);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  std::string normal;
  size_t digits = 0;
  bool seen_separator = false;
  for (size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (c >= '0' && c <= '9') {
      normal.push_back(c);
      ++digits;
    } else if (c == separator && !seen_separator) {
      normal.push_back('.');
      seen_separator = true;
    } else if ((c == '-' || c == '+') && i == 0) {
      normal.push_back(c);
    } else {
      throw ConversionError(std::string(text));
    }
  }
  if (digits == 0 || digits > 15) throw ConversionError(std::string(text));
  return std::strtod(normal.c_str(), nullptr);
}

int32_t UserStrToTenths(std::string_view text, char separator) {
  const double value = UserStrToFloat(text, separator) * 10.0;
  // A little tolerance so that 2,1 gives 21 and not 20.999...
  const double truncated = std::trunc(value + (value >= 0 ? 1e-9 : -1e-9));
  if (truncated < std::numeric_limits<int32_t>::min() || truncated > std::numeric_limits<int32_t>::max()) {
    throw ConversionError(std::string(text));
  }
  return static_cast<int32_t>(truncated);
}

std::string FixedTenths(int tenths, char separator) {
  const int whole = std::abs(tenths) / 10;
  const int fraction = std::abs(tenths) % 10;
  return std::string(tenths < 0 ? "-" : "") + std::to_string(whole) + separator + std::to_string(fraction);
}

std::string ShortTenths(int tenths, char separator) {
  if (tenths % 10 == 0) return std::to_string(tenths / 10);
  return FixedTenths(tenths, separator);
}

int64_t LeadingNumber(std::string_view text) {
  std::string_view t = TrimLeft(text);
  bool negative = false;
  if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  int64_t value = 0;
  for (char c : t) {
    if (c < '0' || c > '9') break;
    value = (value * 10 + (c - '0')) % (int64_t{1} << 32);  // only the low bits are ever kept
  }
  return negative ? -value : value;
}

void KeyCodeFromStringToArray(std::string_view text, uint8_t* out) {
  if (text.empty()) {
    for (int i = 0; i < 6; ++i) out[i] = 0;
    return;
  }
  auto digit = [&](size_t pos) -> uint8_t {
    const unsigned char c = pos < text.size() ? static_cast<unsigned char>(text[pos]) : '0';
    const int value = c < 0x41 ? c - 0x30 : c - 0x37;
    return static_cast<uint8_t>(value & 0x0F);
  };
  for (size_t i = 0; i < 6; ++i) {
    out[5 - i] = static_cast<uint8_t>((digit(2 * i) << 4) | digit(2 * i + 1));
  }
}

std::string KeyCodeToString(const uint8_t* bytes) {
  char text[13];
  std::snprintf(text, sizeof text, "%.2X%.2X%.2X%.2X%.2X%.2X", bytes[5], bytes[4], bytes[3], bytes[2],
                bytes[1], bytes[0]);
  return text;
}

int SetIndexComboByText(ui::Control& combo, std::string_view text) {
  const auto& items = combo.Items();
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i] == text) {
      combo.SetIndex(static_cast<int>(i));
      return static_cast<int>(i);
    }
  }
  combo.SetIndex(-1);
  return -1;
}

bool ApplyBound(ui::Control& edit, int bound, char separator) {
  if (edit.Text().empty()) {
    edit.SetText("0");
    return true;
  }
  if (UserStrToFloat(edit.Text(), separator) > bound) {
    edit.SetText(std::to_string(bound));
    return true;
  }
  return false;
}

}  // namespace rlv::config
