#include "config/ConfigText.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <map>
#include <set>

#include "config/ConfigControls.h"
#include "config/Editor.h"
#include "link/Bytes.h"
#include "link/Codepage.h"
#include "link/Crc.h"
#include "ui/Controls.h"
#include "ui/MainControls.h"

namespace rlv::config::text {

namespace {

using link::GetU16;
using link::GetU32;
using link::PutU16;
using link::PutU32;

constexpr size_t kCrcAt = 510;

// A value that does not fit its field; the caller adds the line number.
class ValueError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Bytes of a record that a field owns: `len` bytes from `off`, the bits of `mask` in each.
struct Range {
  size_t off;
  size_t len;
  uint8_t mask = 0xFF;
};

struct Field {
  std::string section;
  std::string key;
  int record;  // 1 or 2
  std::vector<Range> ranges;
  std::function<std::string(const Block&)> format;
  // Writes the value into the field's bits of `r` (other bits of `r` hold the
  // fields parsed before it); throws ValueError.
  std::function<void(std::string_view, Block&)> parse;
};

// ---- Values ------------------------------------------------------------------

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return std::string(s.substr(b, e - b));
}

std::vector<std::string> Words(std::string_view s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    size_t j = i;
    while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
    if (j > i) out.emplace_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

// A decimal integer in [lo, hi], nothing else.
int64_t Integer(std::string_view s, int64_t lo, int64_t hi) {
  const std::string t = Trim(s);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  if (i == t.size()) throw ValueError("\"" + t + "\" is not a number");
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') throw ValueError("\"" + t + "\" is not a number");
    v = v * 10 + (t[i] - '0');
    if (v > 0xFFFFFFFFLL)
      throw ValueError(t + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
  }
  if (negative) v = -v;
  if (v < lo || v > hi)
    throw ValueError(t + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
  return v;
}

// Tenths written "3.0", "-1.5" or "2": the value times ten, in [lo, hi].
int64_t Tenths(std::string_view s, int64_t lo, int64_t hi) {
  const std::string t = Trim(s);
  const size_t dot = t.find('.');
  int64_t v = 0;
  if (dot == std::string::npos) {
    v = Integer(t, lo / 10 - 1, hi / 10 + 1) * 10;
  } else {
    if (dot + 2 != t.size() || t[dot + 1] < '0' || t[dot + 1] > '9') {
      throw ValueError("\"" + t + "\" is not a number with one decimal");
    }
    const int64_t whole = Integer(t.substr(0, dot), -1000, 1000);
    const bool negative = !t.empty() && t[0] == '-';
    v = whole * 10 + (negative ? -1 : 1) * (t[dot + 1] - '0');
  }
  if (v < lo || v > hi) {
    throw ValueError(t + " is out of range " + FixedTenths(static_cast<int>(lo), '.') + ".." +
                     FixedTenths(static_cast<int>(hi), '.'));
  }
  return v;
}

bool Boolean(std::string_view s) {
  const std::string t = Trim(s);
  if (t == "true") return true;
  if (t == "false") return false;
  throw ValueError("\"" + t + "\" is neither true nor false");
}

// A text field's value: in double quotes, with \" \\ and \xHH (a byte below 0x20 or 0x7F).
std::string Quote(const std::string& utf8) {
  std::string out = "\"";
  for (char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Unquote(std::string_view s) {
  const std::string t = Trim(s);
  if (t.size() < 2 || t.front() != '"' || t.back() != '"')
    throw ValueError("a text must be in double quotes");
  std::string out;
  for (size_t i = 1; i + 1 < t.size(); ++i) {
    if (t[i] == '"') throw ValueError("a double quote inside a text must be written \\\"");
    if (t[i] != '\\') {
      out += t[i];
      continue;
    }
    if (i + 2 >= t.size()) throw ValueError("a text ends with a lone backslash");
    const char e = t[++i];
    if (e == '"' || e == '\\') {
      out += e;
    } else if (e == 'x' && i + 3 < t.size() && HexDigit(t[i + 1]) >= 0 && HexDigit(t[i + 2]) >= 0) {
      const int v = HexDigit(t[i + 1]) * 16 + HexDigit(t[i + 2]);
      if (v >= 0x80) throw ValueError("\\x escapes stand for bytes below 80");
      out += static_cast<char>(v);
      i += 2;
    } else {
      throw ValueError(std::string("unknown escape \\") + e);
    }
  }
  return out;
}

// The zero-terminated text of a fixed field.
std::string FieldText(const Block& r, size_t off, size_t size) {
  size_t n = 0;
  while (n < size && r[off + n] != 0) ++n;
  return link::Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(r.data() + off), n));
}

// Stores a text in a field of `size` bytes with room for its terminating zero.
void StoreText(Block& r, size_t off, size_t size, const std::string& utf8) {
  const std::string bytes = link::Utf8ToCp1251(utf8);
  if (link::Cp1251ToUtf8(bytes) != utf8) throw ValueError("the text has characters the tracker cannot store");
  if (bytes.find('\0') != std::string::npos) throw ValueError("a text cannot hold a zero byte");
  if (bytes.size() > size - 1)
    throw ValueError("the text is longer than " + std::to_string(size - 1) + " characters");
  std::fill(r.begin() + static_cast<ptrdiff_t>(off), r.begin() + static_cast<ptrdiff_t>(off + size), 0);
  std::copy(bytes.begin(), bytes.end(), r.begin() + static_cast<ptrdiff_t>(off));
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%s%02X", out.empty() ? "" : " ", b);
    out += hex;
  }
  return out;
}

std::vector<uint8_t> FromHex(std::string_view s) {
  std::vector<uint8_t> out;
  for (const std::string& w : Words(s)) {
    if (w.size() != 2 || HexDigit(w[0]) < 0 || HexDigit(w[1]) < 0) {
      throw ValueError("\"" + w + "\" is not a byte in two hexadecimal digits");
    }
    out.push_back(static_cast<uint8_t>(HexDigit(w[0]) * 16 + HexDigit(w[1])));
  }
  return out;
}

// ---- Calendar (the build time is local wall-clock seconds since 1970) ---------

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::string TimeText(uint32_t seconds) {
  const int64_t days = seconds / 86400;
  const int64_t rest = seconds % 86400;
  int64_t z = days + 719468;
  const int64_t era = z / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
  char out[32];
  std::snprintf(out, sizeof out, "%04lld-%02u-%02u %02lld:%02lld:%02lld", static_cast<long long>(y), m, d,
                static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
  return out;
}

uint32_t ParseTime(std::string_view s) {
  const std::string t = Trim(s);
  const char* shape = "dddd-dd-dd dd:dd:dd";
  bool ok = t.size() == 19;
  for (size_t i = 0; ok && i < t.size(); ++i) {
    ok = shape[i] == 'd' ? (t[i] >= '0' && t[i] <= '9') : t[i] == shape[i];
  }
  if (!ok) throw ValueError("\"" + t + "\" is not a time YYYY-MM-DD hh:mm:ss");
  auto num = [&](size_t at, size_t n) { return std::stoi(t.substr(at, n)); };
  const int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2), se = num(17, 2);
  static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || (mo == 2 && d == 29 && !leap) || h > 23 || mi > 59 ||
      se > 59) {
    throw ValueError("\"" + t + "\" is not a valid time");
  }
  const int64_t v =
      DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 + mi * 60 + se;
  if (v < 0 || v > 0xFFFFFFFFLL) throw ValueError("\"" + t + "\" is outside 1970-01-01..2106-02-07");
  return static_cast<uint32_t>(v);
}

// ---- The field table --------------------------------------------------------

// The items of the pages' selection lists, as the pages declare them.
ui::ControlModel& Pages() {
  static ui::ControlModel model;
  static const bool declared = [] {
    ui::DeclareMainControls(model);
    DeclareConfigControls(model);
    return true;
  }();
  (void)declared;
  return model;
}

const std::vector<std::string>& ItemsOf(const std::string& control) {
  static const std::vector<std::string> none;
  const ui::Control* c = Pages().Find(control);
  return c != nullptr ? c->Items() : none;
}

class Table {
 public:
  std::vector<Field> fields;
  std::string section;
  int record = 1;

  void Add(std::string key, std::vector<Range> ranges, std::function<std::string(const Block&)> format,
           std::function<void(std::string_view, Block&)> parse) {
    fields.push_back(
        {section, std::move(key), record, std::move(ranges), std::move(format), std::move(parse)});
  }

  // An unsigned number of 1, 2 or 4 bytes.
  void Number(const std::string& key, size_t off, size_t width) {
    const int64_t hi = width == 1 ? 0xFF : width == 2 ? 0xFFFF : 0xFFFFFFFFLL;
    Add(
        key, {{off, width}},
        [off, width](const Block& r) {
          return std::to_string(width == 1 ? r[off] : width == 2 ? GetU16(&r[off]) : GetU32(&r[off]));
        },
        [off, width, hi](std::string_view v, Block& r) {
          const int64_t n = Integer(v, 0, hi);
          if (width == 1) r[off] = static_cast<uint8_t>(n);
          if (width == 2) PutU16(&r[off], static_cast<uint16_t>(n));
          if (width == 4) PutU32(&r[off], static_cast<uint32_t>(n));
        });
  }

  // A byte in tenths: signed with one decimal ("3.0"), or unsigned in the shortest form ("1.5", "2").
  void TenthsField(const std::string& key, size_t off, bool is_signed) {
    Add(
        key, {{off, 1}},
        [off, is_signed](const Block& r) {
          return is_signed ? FixedTenths(static_cast<int8_t>(r[off]), '.') : ShortTenths(r[off], '.');
        },
        [off, is_signed](std::string_view v, Block& r) {
          r[off] = static_cast<uint8_t>(is_signed ? Tenths(v, -128, 127) : Tenths(v, 0, 255));
        });
  }

  void Flag(const std::string& key, size_t byte, uint8_t mask) {
    Add(
        key, {{byte, 1, mask}},
        [byte, mask](const Block& r) { return (r[byte] & mask) != 0 ? "true" : "false"; },
        [byte, mask](std::string_view v, Block& r) {
          if (Boolean(v)) r[byte] |= mask;
        });
  }

  void Text(const std::string& key, size_t off, size_t size) {
    Add(
        key, {{off, size}}, [off, size](const Block& r) { return Quote(FieldText(r, off, size)); },
        [off, size](std::string_view v, Block& r) { StoreText(r, off, size, Unquote(v)); });
  }

  // A selection list stored in the bits `mask` of a byte: "index "item"", or -1 when none is selected.
  void Selection(const std::string& key, size_t byte, uint8_t mask, const std::string& control) {
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    Add(
        key, {{byte, 1, mask}},
        [byte, mask, shift, control](const Block& r) {
          const int v = (r[byte] & mask) >> shift;
          const auto& items = ItemsOf(control);
          if (v < static_cast<int>(items.size()))
            return std::to_string(v) + " " + Quote(items[static_cast<size_t>(v)]);
          if (v == (mask >> shift) && v > 1) return std::string("-1");
          return std::to_string(v);
        },
        [byte, mask, shift, control](std::string_view value, Block& r) {
          const auto& items = ItemsOf(control);
          const std::string t = Trim(value);
          int index = -1;
          if (!t.empty() && t[0] == '"') {
            const std::string text = Unquote(t);
            const auto it = std::find(items.begin(), items.end(), text);
            if (it == items.end()) throw ValueError("\"" + text + "\" is not an item of the list");
            index = static_cast<int>(it - items.begin());
          } else {
            const size_t space = t.find_first_of(" \t");
            index = static_cast<int>(Integer(t.substr(0, space), -1, static_cast<int64_t>(items.size()) - 1));
            if (space != std::string::npos) {
              const std::string text = Unquote(t.substr(space));
              if (index < 0 || items[static_cast<size_t>(index)] != text) {
                throw ValueError("item " + std::to_string(index) + " is not \"" + text + "\"");
              }
            }
          }
          // No selection stores -1 cut to the field's bits, as the pages do.
          const int all = mask >> shift;
          if (index < 0 && all <= 1) throw ValueError("this list always has a selection");
          r[byte] |= static_cast<uint8_t>(((index < 0 ? all : index) << shift) & mask);
        });
  }

  // A mask of 256 bits (16 words) as the list of the numbers of its set bits.
  void Tags(const std::string& key, size_t off) {
    Add(
        key, {{off, 32}},
        [off](const Block& r) {
          std::string out;
          for (int tag = 0; tag < 256; ++tag) {
            if ((GetU16(&r[off + 2 * static_cast<size_t>(tag / 16)]) >> (tag % 16)) & 1) {
              out += (out.empty() ? "" : " ") + std::to_string(tag);
            }
          }
          return out;
        },
        [off](std::string_view v, Block& r) {
          std::set<int64_t> seen;
          for (const std::string& w : Words(v)) {
            const int64_t tag = Integer(w, 0, 255);
            if (!seen.insert(tag).second) throw ValueError("tag " + w + " is listed twice");
            uint8_t* word = &r[off + 2 * static_cast<size_t>(tag / 16)];
            PutU16(word, static_cast<uint16_t>(GetU16(word) | (1u << (tag % 16))));
          }
        });
  }
};

std::vector<std::string> ExpectWords(std::string_view v, size_t n, const char* what) {
  std::vector<std::string> w = Words(v);
  if (w.size() != n) throw ValueError(std::string("expected ") + what);
  return w;
}

const std::vector<Field>& Fields() {
  static const std::vector<Field> fields = [] {
    Table t;
    t.record = 1;
    t.section = "connection";
    t.Number("CONFPASS", 5, 2);
    t.Number("ID_Device", 9, 2);
    t.Selection("OPERATOR", 15, 0xFF, "OPERATOR");
    t.Text("UserAPN", 16, 41);
    t.Add(
        "SERVERIP", {{61, 26}},
        [](const Block& r) { return Quote(FieldText(r, 61, 24) + ":" + std::to_string(GetU16(&r[85]))); },
        [](std::string_view v, Block& r) {
          const std::string s = Unquote(v);
          const size_t colon = s.find(':');
          if (colon == std::string::npos) throw ValueError("the server is written host:port");
          StoreText(r, 61, 24, s.substr(0, colon));
          PutU16(&r[85], static_cast<uint16_t>(Integer(s.substr(colon + 1), 0, 0xFFFF)));
        });
    t.Text("DISPNUMBER", 87, 15);
    t.Selection("Protocol", 385, 0xFF, "Protocol");
    t.Selection("TRACKTYPE", 102, 0xFF, "TRACKTYPE");
    t.Flag("CALLSMSFROMALL", 11, 0x03);

    t.section = "inputs_outputs";
    t.Selection("IN1TYPE", 190, 0x0F, "IN1TYPE");
    t.Selection("IN2TYPE", 198, 0x0F, "IN2TYPE");
    t.Selection("OUTTYPE", 206, 0xFF, "OUTTYPE");
    t.Flag("OUTONINCALLING", 11, 0x08);
    t.Number("OUTIMPULS", 207, 1);
    t.Number("OUTPAUSE", 208, 1);
    t.Number("OUTPERIOD", 209, 1);

    t.section = "one_wire";
    t.Selection("WIREKEYOPTION", 12, 0x40, "WIREKEYOPTION");
    t.Flag("ONOUTIFKEYVALID", 11, 0x10);
    t.Flag("ALARMNOTVALIDKEY", 11, 0x20);
    for (size_t i = 0; i < 5; ++i) {
      const size_t off = 210 + 6 * i;
      t.Add(
          "KEY" + std::to_string(i + 1), {{off, 6}},
          [off](const Block& r) { return KeyCodeToString(&r[off]); },
          [off](std::string_view v, Block& r) {
            const std::string s = Trim(v);
            if (s.size() > 12) throw ValueError("a key code has at most 12 hexadecimal digits");
            for (char c : s) {
              if (HexDigit(c) < 0) throw ValueError("\"" + s + "\" is not hexadecimal");
            }
            KeyCodeFromStringToArray(s, &r[off]);
          });
    }

    t.section = "peripherals";
    t.Selection("RS485DEVICE", 256, 0xFF, "RS485DEVICE");
    t.Add(
        "RS485BAUD", {{257, 4}}, [](const Block& r) { return std::to_string(GetU32(&r[257])); },
        [](std::string_view v, Block& r) {
          const int64_t baud = Integer(v, 0, 0xFFFFFFFFLL);
          const auto& items = ItemsOf("RS485BAUD");
          if (baud != 0 && std::find(items.begin(), items.end(), std::to_string(baud)) == items.end()) {
            throw ValueError(std::to_string(baud) + " is not a speed of the list (or 0 for none)");
          }
          PutU32(&r[257], static_cast<uint32_t>(baud));
        });
    t.Number("FUEL1", 261, 1);
    t.Number("FUEL2", 262, 1);
    t.Flag("MODBUSMODE", 13, 0x40);
    t.Selection("CANBUSMODE", 348, 0xFF, "CANBUSMODE");
    t.Selection("CANBAUD", 13, 0x07, "CANBAUD");
    t.Selection("TACHOMODEL", 368, 0xFF, "TACHOMODEL");
    // The tachograph's login: "user password" for model 1, a text for model 2.
    t.Add(
        "TACHOAUTH", {{369, 16}},
        [](const Block& r) -> std::string {
          if (r[368] == 1) return std::to_string(r[369]) + " " + std::to_string(GetU32(&r[370]));
          if (r[368] == 2) return Quote(FieldText(r, 369, 16));
          return "";
        },
        [](std::string_view v, Block& r) {
          if (r[368] == 1) {
            const auto w = ExpectWords(v, 2, "the user index and the password");
            r[369] = static_cast<uint8_t>(Integer(w[0], 0, 255));
            PutU32(&r[370], static_cast<uint32_t>(Integer(w[1], 0, 0xFFFFFFFFLL)));
          } else if (r[368] == 2) {
            StoreText(r, 369, 16, Unquote(v));
          } else if (!Trim(v).empty()) {
            throw ValueError("this tachograph model has no login");
          }
        });

    t.section = "additional";
    t.Flag("EnDrivingStyle", 13, 0x20);
    t.Flag("StopWriteIfSavePowerMode", 13, 0x80);
    t.Flag("VeryLowPower", 14, 0x01);
    t.Add(
        "IPUPDATE", {{353, 4}},
        [](const Block& r) {
          return std::to_string(r[353]) + "." + std::to_string(r[354]) + "." + std::to_string(r[355]) + "." +
                 std::to_string(r[356]);
        },
        [](std::string_view v, Block& r) {
          std::string s = Trim(v);
          std::replace(s.begin(), s.end(), '.', ' ');
          const auto w = ExpectWords(s, 4, "four numbers a.b.c.d");
          if (std::count(v.begin(), v.end(), '.') != 3) throw ValueError("expected four numbers a.b.c.d");
          for (size_t i = 0; i < 4; ++i) r[353 + i] = static_cast<uint8_t>(Integer(w[i], 0, 255));
        });
    t.Number("UPDPORT", 357, 2);
    t.Number("CONFPORT", 359, 2);
    t.Add(
        "WRITETIME", {{349, 4}}, [](const Block& r) { return TimeText(GetU32(&r[349])); },
        [](std::string_view v, Block& r) { PutU32(&r[349], ParseTime(v)); });
    t.Add(
        "CALIBRATION", {{361, 6}},
        [](const Block& r) {
          std::string out;
          for (size_t i = 0; i < 3; ++i) {
            out += (i ? " " : "") + std::to_string(static_cast<int16_t>(GetU16(&r[361 + 2 * i])));
          }
          return out;
        },
        [](std::string_view v, Block& r) {
          const auto w = ExpectWords(v, 3, "three numbers");
          for (size_t i = 0; i < 3; ++i) {
            PutU16(&r[361 + 2 * i], static_cast<uint16_t>(Integer(w[i], -32768, 32767)));
          }
        });

    t.section = "track";
    t.Number("TimePark", 103, 1);
    t.Number("Perpackstop", 104, 2);
    t.Number("Perpackstop2", 106, 2);
    t.Number("Accel_sens", 108, 2);
    t.Number("Timeoutstop", 110, 2);
    t.Number("Perpackmove", 112, 2);
    t.Number("Packdist", 114, 2);
    t.Number("Filterlineangel", 116, 1);
    t.Number("Minspeedangel", 117, 1);
    t.Number("Minangel", 118, 1);
    t.TenthsField("MaxHdop", 119, false);
    t.Number("Maxspeed", 120, 1);
    t.Number("Minspeed", 121, 1);
    t.TenthsField("Maxaccel", 122, false);
    t.Number("Maxdist", 123, 1);
    t.Number("MINWRINT", 124, 1);
    t.Number("MINSATS", 125, 1);
    t.Flag("NotWrPointF", 12, 0x08);

    t.section = "structure";
    t.Tags("DATATAGS", 126);
    t.Tags("STATUSTAGS", 158);

    t.section = "modbus";
    for (size_t k = 0; k < 5; ++k) {
      const size_t off = 263 + 7 * k;
      t.Add(
          "ModBusStr." + std::to_string(k + 1), {{off, 7}},
          [off](const Block& r) -> std::string {
            if (std::all_of(&r[off], &r[off] + 7, [](uint8_t b) { return b == 0; })) return "";
            return std::to_string(r[off]) + " " + std::to_string(r[off + 1]) + " " +
                   std::to_string(GetU16(&r[off + 2])) + " " + std::to_string(r[off + 4]);
          },
          [off, k](std::string_view v, Block& r) {
            if (Trim(v).empty()) return;
            const auto w = ExpectWords(v, 4, "ID, function, register and length");
            r[off] = static_cast<uint8_t>(Integer(w[0], 0, 255));
            r[off + 1] = static_cast<uint8_t>(Integer(w[1], 0, 255));
            PutU16(&r[off + 2], static_cast<uint16_t>(Integer(w[2], 0, 0xFFFF)));
            r[off + 4] = static_cast<uint8_t>(Integer(w[3], 0, 255));
            r[off + 5] = 5;
            r[off + 6] = static_cast<uint8_t>(k);
          });
    }

    t.section = "operators";
    for (size_t i = 0; i < 5; ++i) {
      t.Add(
          "MCCMNCGRID." + std::to_string(i + 1), {{386 + 2 * i, 2}, {396 + i, 1}},
          [i](const Block& r) {
            return std::to_string(GetU16(&r[386 + 2 * i])) + " " + std::to_string(r[396 + i]);
          },
          [i](std::string_view v, Block& r) {
            const auto w = ExpectWords(v, 2, "MCC and MNC");
            PutU16(&r[386 + 2 * i], static_cast<uint16_t>(Integer(w[0], 0, 0xFFFF)));
            r[396 + i] = static_cast<uint8_t>(Integer(w[1], 0, 255));
          });
    }

    t.record = 2;
    t.section = "driving_style";
    t.TenthsField("BrakingLevel", 5, true);
    t.TenthsField("AccelerationLevel", 6, true);
    t.Number("CourceLevel", 7, 1);
    t.TenthsField("SkidLevel", 8, true);
    const char* style[] = {"PerevorotLevel", "Tilt0Level",    "Tilt1Level",    "AgressParam1",
                           "AgressParam2",   "MaxSpeedLevel", "MaxSpeedAngle", "MinRadiusAngle"};
    for (size_t i = 0; i < 8; ++i) t.Number(style[i], 12 + i, 1);
    t.Number("SavePowerAfterStop", 20, 2);
    return t.fields;
  }();
  return fields;
}

// Bits the record derives from other fields when it is built: not in the text.
struct Derived {
  size_t byte;
  uint8_t mask;
};
constexpr Derived kDerived1[] = {{12, 0x20}, {12, 0x80}};  // a password is set; a CAN pattern is chosen

void Rederive(Block& r1) {
  if (GetU16(&r1[5]) != 0) r1[12] |= 0x20;
  if (r1[348] != 0) r1[12] |= 0x80;
  // The Modbus rows and the driving style add their tags.
  for (size_t k = 0; k < 5; ++k) {
    if (r1[263 + 7 * k + 5] == 5) PutU16(&r1[150], static_cast<uint16_t>(GetU16(&r1[150]) | (1u << k)));
  }
  if ((r1[13] & 0x20) != 0) PutU16(&r1[168], static_cast<uint16_t>(GetU16(&r1[168]) | 0x8020));
}

// The bits of each record that fields, derived bits and the checksum own.
const std::array<Block, 2>& Claimed() {
  static const std::array<Block, 2> claimed = [] {
    std::array<Block, 2> c{};
    for (const Field& f : Fields()) {
      for (const Range& range : f.ranges) {
        for (size_t i = 0; i < range.len; ++i)
          c[static_cast<size_t>(f.record - 1)][range.off + i] |= range.mask;
      }
    }
    for (const Derived& d : kDerived1) c[0][d.byte] |= d.mask;
    for (Block& b : c) b[kCrcAt] = b[kCrcAt + 1] = 0xFF;
    return c;
  }();
  return claimed;
}

Block& RecordOf(Records& r, int n) {
  return n == 1 ? r.block1 : r.block2;
}
const Block& RecordOf(const Records& r, int n) {
  return n == 1 ? r.block1 : r.block2;
}

std::vector<uint8_t> FieldBytes(const Field& f, const Block& r) {
  std::vector<uint8_t> out;
  for (const Range& range : f.ranges) {
    for (size_t i = 0; i < range.len; ++i) out.push_back(r[range.off + i] & range.mask);
  }
  return out;
}

void ClearField(const Field& f, Block& r) {
  for (const Range& range : f.ranges) {
    for (size_t i = 0; i < range.len; ++i) r[range.off + i] &= static_cast<uint8_t>(~range.mask);
  }
}

// Applies a parsed value to the field's own bits of `r` only.
void ApplyField(const Field& f, std::string_view value, Block& r) {
  Block scratch = r;
  ClearField(f, scratch);
  f.parse(value, scratch);
  for (const Range& range : f.ranges) {
    for (size_t i = 0; i < range.len; ++i) {
      uint8_t& b = r[range.off + i];
      b = static_cast<uint8_t>((b & ~range.mask) | (scratch[range.off + i] & range.mask));
    }
  }
}

void ApplyFieldBytes(const Field& f, std::string_view value, Block& r) {
  const std::vector<uint8_t> bytes = FromHex(value);
  size_t total = 0;
  for (const Range& range : f.ranges) total += range.len;
  if (bytes.size() != total) throw ValueError("expected " + std::to_string(total) + " bytes");
  size_t k = 0;
  for (const Range& range : f.ranges) {
    for (size_t i = 0; i < range.len; ++i, ++k) {
      if ((bytes[k] & ~range.mask) != 0)
        throw ValueError("byte " + std::to_string(k + 1) + " sets bits of another field");
      uint8_t& b = r[range.off + i];
      b = static_cast<uint8_t>((b & ~range.mask) | bytes[k]);
    }
  }
}

// The value of a field, or "KEY.bytes" and its bytes when the pages' form cannot hold it.
Entry FieldEntry(const Field& f, const Block& r) {
  std::string value = f.format(r);
  bool exact = false;
  try {
    Block back = r;
    ApplyField(f, value, back);
    exact = FieldBytes(f, back) == FieldBytes(f, r);
  } catch (const ValueError&) {
  }
  if (exact) return {f.section + "." + f.key, value};
  return {f.section + "." + f.key + ".bytes", Hex(FieldBytes(f, r))};
}

constexpr size_t kRawLine = 16;

std::string RawKey(int record, size_t off) {
  char key[32];
  std::snprintf(key, sizeof key, "raw.record%d.%03zu", record, off);
  return key;
}

}  // namespace

std::vector<Entry> Entries(const Records& records) {
  std::vector<Entry> out;
  for (const Field& f : Fields()) out.push_back(FieldEntry(f, RecordOf(records, f.record)));
  const auto& claimed = Claimed();
  for (int n = 1; n <= 2; ++n) {
    const Block& r = RecordOf(records, n);
    const Block& c = claimed[static_cast<size_t>(n - 1)];
    for (size_t at = 0; at < kCrcAt; at += kRawLine) {
      std::vector<uint8_t> line;
      bool any = false;
      for (size_t i = at; i < std::min(at + kRawLine, kCrcAt); ++i) {
        line.push_back(r[i] & static_cast<uint8_t>(~c[i]));
        any = any || line.back() != 0;
      }
      if (any) out.push_back({RawKey(n, at), Hex(line)});
    }
    // The checksum only when it is not the record's own.
    if (GetU16(&r[kCrcAt]) != link::Crc16(r.data(), kCrcAt)) {
      char crc[8];
      std::snprintf(crc, sizeof crc, "%04X", GetU16(&r[kCrcAt]));
      out.push_back({"raw.record" + std::to_string(n) + ".crc", crc});
    }
  }
  return out;
}

std::string Export(const Records& records) {
  std::string out =
      "# RLvexa configuration\n"
      "# One field a line: KEY = value. Lists: index \"item\"; texts in double quotes;\n"
      "# [raw]: bytes no field names, 16 a line from the offset in the key.\n";
  std::string section;
  for (const Entry& e : Entries(records)) {
    const size_t dot = e.key.find('.');
    const std::string s = e.key.substr(0, dot);
    if (s != section) {
      section = s;
      out += "\n[" + section + "]\n";
    }
    out += e.key.substr(dot + 1) + (e.value.empty() ? " =" : " = " + e.value) + "\n";
  }
  return out;
}

Records Import(std::string_view text) {
  // Every line first: keys, values and line numbers.
  struct Line {
    int number;
    std::string value;
  };
  std::map<std::string, Line> lines;
  std::string section;
  int number = 0;
  size_t pos = 0;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;  // a byte order mark
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++number;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3) throw ImportError(number, "a section is written [name]");
      section = Trim(line.substr(1, line.size() - 2));
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) throw ImportError(number, "expected KEY = value");
    if (section.empty()) throw ImportError(number, "a key before the first section");
    const std::string key = section + "." + Trim(line.substr(0, eq));
    if (!lines.emplace(key, Line{number, Trim(line.substr(eq + 1))}).second) {
      throw ImportError(number,
                        key + " is given twice (first on line " + std::to_string(lines[key].number) + ")");
    }
  }

  // Unknown keys first: a misspelt key is named on its own line.
  std::set<std::string> known;
  for (const Field& f : Fields()) {
    known.insert(f.section + "." + f.key);
    known.insert(f.section + "." + f.key + ".bytes");
  }
  for (const auto& [key, line] : lines) {
    if (!known.count(key) && key.rfind("raw.", 0) != 0) throw ImportError(line.number, "unknown key " + key);
  }

  Records r;
  // The unnamed bytes.
  const auto& claimed = Claimed();
  std::array<std::vector<bool>, 2> raw_seen{std::vector<bool>(kCrcAt), std::vector<bool>(kCrcAt)};
  std::array<std::optional<uint16_t>, 2> crc;
  for (const auto& [key, line] : lines) {
    if (key.rfind("raw.", 0) != 0) continue;
    int n = 0;
    std::string rest;
    if (key.rfind("raw.record1.", 0) == 0) n = 1;
    if (key.rfind("raw.record2.", 0) == 0) n = 2;
    if (n == 0) throw ImportError(line.number, "unknown key " + key);
    rest = key.substr(12);
    try {
      if (rest == "crc") {
        const std::string v = Trim(line.value);
        if (v.size() != 4 || !std::all_of(v.begin(), v.end(), [](char c) { return HexDigit(c) >= 0; })) {
          throw ValueError("a checksum is four hexadecimal digits");
        }
        crc[static_cast<size_t>(n - 1)] = static_cast<uint16_t>(std::stoul(v, nullptr, 16));
        continue;
      }
      const size_t off = static_cast<size_t>(Integer(rest, 0, kCrcAt - 1));
      const std::vector<uint8_t> bytes = FromHex(line.value);
      if (off + bytes.size() > kCrcAt)
        throw ValueError("the bytes run past offset " + std::to_string(kCrcAt - 1));
      Block& b = RecordOf(r, n);
      for (size_t i = 0; i < bytes.size(); ++i) {
        if ((bytes[i] & claimed[static_cast<size_t>(n - 1)][off + i]) != 0) {
          throw ValueError("offset " + std::to_string(off + i) + " sets bits of a named field");
        }
        if (raw_seen[static_cast<size_t>(n - 1)][off + i]) {
          throw ValueError("offset " + std::to_string(off + i) + " is given twice");
        }
        raw_seen[static_cast<size_t>(n - 1)][off + i] = true;
        b[off + i] |= bytes[i];
      }
    } catch (const ValueError& e) {
      throw ImportError(line.number, key + ": " + e.what());
    }
  }
  // The fields, in the table's order (a field may depend on one before it).
  for (const Field& f : Fields()) {
    const std::string key = f.section + "." + f.key;
    const auto plain = lines.find(key);
    const auto bytes = lines.find(key + ".bytes");
    if (plain == lines.end() && bytes == lines.end())
      throw ImportError(0, "the field " + key + " is missing");
    if (plain != lines.end() && bytes != lines.end()) {
      throw ImportError(bytes->second.number,
                        key + " is given twice (also on line " + std::to_string(plain->second.number) + ")");
    }
    const auto& [k, line] = plain != lines.end() ? *plain : *bytes;
    try {
      if (plain != lines.end()) {
        ApplyField(f, line.value, RecordOf(r, f.record));
      } else {
        ApplyFieldBytes(f, line.value, RecordOf(r, f.record));
      }
    } catch (const ValueError& e) {
      throw ImportError(line.number, k + ": " + e.what());
    }
  }
  Rederive(r.block1);
  for (int n = 1; n <= 2; ++n) {
    Block& b = RecordOf(r, n);
    const auto& given = crc[static_cast<size_t>(n - 1)];
    PutU16(&b[kCrcAt], given ? *given : link::Crc16(b.data(), kCrcAt));
  }
  return r;
}

std::vector<Difference> Diff(const Records& old_records, const Records& new_records) {
  const std::vector<Entry> a = Entries(old_records);
  const std::vector<Entry> b = Entries(new_records);
  // A field keeps its place whether it is shown as a value or as bytes.
  auto base = [](const std::string& key) {
    return key.size() > 6 && key.compare(key.size() - 6, 6, ".bytes") == 0 ? key.substr(0, key.size() - 6)
                                                                           : key;
  };
  std::vector<std::string> order;
  std::map<std::string, std::pair<std::string, std::string>> values;
  for (const Entry& e : a) {
    if (!values.count(base(e.key))) order.push_back(base(e.key));
    values[base(e.key)].first = e.value;
  }
  for (const Entry& e : b) {
    if (!values.count(base(e.key))) order.push_back(base(e.key));
    values[base(e.key)].second = e.value;
  }
  std::vector<Difference> out;
  for (const std::string& key : order) {
    const auto& [o, n] = values[key];
    if (o != n) out.push_back({key, o, n});
  }
  return out;
}

std::string FormatDifference(const Difference& d) {
  auto shown = [](const std::string& v) { return v.empty() ? std::string("(none)") : v; };
  return d.key + ": " + shown(d.old_value) + " -> " + shown(d.new_value);
}

Records FromFileContent(const std::vector<uint8_t>& content) {
  Records r;
  if (content.size() >= 2 && content[0] == fcg::kMagic0 && content[1] == fcg::kMagic1) {
    const std::vector<uint8_t> head(
        content.begin(), content.begin() + static_cast<ptrdiff_t>(std::min(content.size(), fcg::kReach)));
    if (ApplyConfigFile(head, r.block1, r.block2) != FileVerdict::kLoaded) {
      throw ImportError(0, "not a configuration file (wrong device type or cut short)");
    }
    return r;
  }
  if (std::find(content.begin(), content.end(), 0) != content.end()) {
    throw ImportError(0, "neither a configuration file nor a configuration text");
  }
  return Import(std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
}

std::vector<uint8_t> ToConfigFile(const Records& records) {
  return BuildConfigFile(records.block1, records.block2);
}

}  // namespace rlv::config::text
