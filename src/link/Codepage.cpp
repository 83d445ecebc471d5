#include "link/Codepage.h"

#include <cstdint>

namespace rlv::link {

namespace {

// Unicode code points of the bytes 0x80 to 0xBF (0 where the byte is unused);
// 0xC0 to 0xFF are U+0410 to U+044F.
constexpr uint16_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

char ToCp1251(uint32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<char>(0xC0 + (cp - 0x0410));
  for (int i = 0; i < 64; ++i) {
    if (kHigh[i] != 0 && kHigh[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::string Utf8ToCp1251(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    size_t len = 1;
    uint32_t cp = lead;
    if (lead >= 0xF0 && lead < 0xF8) {
      len = 4;
      cp = lead & 0x07;
    } else if (lead >= 0xE0) {
      len = 3;
      cp = lead & 0x0F;
    } else if (lead >= 0xC0) {
      len = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0x80) {
      out.push_back('?');  // a stray continuation byte
      ++i;
      continue;
    }
    if (i + len > utf8.size()) {
      out.push_back('?');
      break;
    }
    bool valid = true;
    for (size_t k = 1; k < len; ++k) {
      const auto c = static_cast<unsigned char>(utf8[i + k]);
      if ((c & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    out.push_back(valid ? ToCp1251(cp) : '?');
    i += valid ? len : 1;
  }
  return out;
}

std::string Cp1251ToUtf8(std::string_view cp1251) {
  std::string out;
  out.reserve(cp1251.size() * 2);
  for (char ch : cp1251) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out.push_back(ch);
    } else if (b >= 0xC0) {
      AppendUtf8(out, 0x0410u + (b - 0xC0u));
    } else {
      AppendUtf8(out, kHigh[b - 0x80] != 0 ? kHigh[b - 0x80] : '?');
    }
  }
  return out;
}

}  // namespace rlv::link
