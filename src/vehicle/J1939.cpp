#include "vehicle/J1939.h"

#include <limits>

#include "link/Bytes.h"

namespace rlv::vehicle {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The text before `sep`, removed from `rest` with the separator. Without the
// separator the field is empty and `rest` stays as it is.
std::string_view Take(std::string_view& rest, char sep) {
  const size_t pos = rest.find(sep);
  if (pos == std::string_view::npos) return {};
  const std::string_view field = rest.substr(0, pos);
  rest.remove_prefix(pos + 1);
  return field;
}

void Drop(std::string_view& rest, char sep) {
  const size_t pos = rest.find(sep);
  if (pos != std::string_view::npos) rest.remove_prefix(pos + 1);
}

}  // namespace

uint32_t LeadingNumber(std::string_view text) {
  text = Trim(text);
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > std::numeric_limits<uint32_t>::max()) return std::numeric_limits<uint32_t>::max();
  }
  return static_cast<uint32_t>(value);
}

std::optional<uint32_t> SpnFromText(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(value);
}

J1939Str ParseJ1939Line(std::string_view line) {
  J1939Str e;
  std::string_view rest = line;
  // 1. The tag (3 characters), the SPN up to "=".
  {
    const size_t eq = rest.find('=');
    if (eq != std::string_view::npos) {
      e.Spn = eq > 3 ? LeadingNumber(rest.substr(3, eq - 3)) : 0;
      rest.remove_prefix(eq + 1);
    }
  }
  // 2. PGN, 3. name.
  e.Pgn = static_cast<uint16_t>(LeadingNumber(Take(rest, ';')));
  e.Name = std::string(Take(rest, ';'));
  // 4. byte.bit
  {
    const uint64_t byte = LeadingNumber(Take(rest, '.'));
    const uint64_t bit = LeadingNumber(Take(rest, ';'));
    e.StartBit = static_cast<uint8_t>((byte * 8 - 8 + bit) & 0xFF);
  }
  // 5. The length; it and the two fields after it are removed.
  {
    const size_t semi = rest.find(';');
    e.Length = static_cast<uint8_t>(semi == std::string_view::npos ? 0 : LeadingNumber(rest.substr(0, semi)));
    for (int i = 0; i < 3; ++i) Drop(rest, ';');
  }
  // 6. The two spare texts.
  e.Spare1 = std::string(Take(rest, ';'));
  e.Spare2 = std::string(rest);
  return e;
}

std::string RegisterOfItem(std::string_view item) {
  const size_t paren = item.find(" (");
  if (paren == std::string_view::npos || paren <= 4) return {};
  return std::string(item.substr(4, paren - 4));
}

std::vector<std::string> RegisterItems() {
  std::vector<std::string> items{"Not used"};
  for (int r = 1; r <= 8; ++r) items.push_back("Reg " + std::to_string(r) + " (1 byte)");
  for (int r = 17; r <= 32; ++r) items.push_back("Reg " + std::to_string(r) + " (2 bytes)");
  for (int r = 81; r <= 88; ++r) items.push_back("Reg " + std::to_string(r) + " (4 bytes)");
  return items;
}

bool RegisterMaskBit(uint8_t reg, size_t* offset, int* bit) {
  if (reg >= 1 && reg <= 8) {
    *offset = 140;
    *bit = reg - 1;
  } else if (reg >= 17 && reg <= 32) {
    *offset = 142;
    *bit = reg - 17;
  } else if (reg >= 81 && reg <= 96) {
    *offset = 150;
    *bit = reg - 81;
  } else {
    return false;
  }
  return true;
}

void PutCanParam(uint8_t* record, size_t index, const CanParamEntry& e) {
  uint8_t* p = record + kCanParamOffset + kCanParamSize * index;
  link::PutU16(p, e.Pgn);
  p[2] = e.StartBit;
  p[3] = e.Length;
  p[4] = e.Register;
}

CanParamEntry GetCanParam(const uint8_t* record, size_t index) {
  const uint8_t* p = record + kCanParamOffset + kCanParamSize * index;
  return {link::GetU16(p), p[2], p[3], p[4]};
}

}  // namespace rlv::vehicle
