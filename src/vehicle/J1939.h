#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rlv::vehicle {

// One parameter of the J1939 catalogue "j1939.can".
struct J1939Str {
  uint32_t Spn = 0;  // SPNs run past 16 bits: kept at full width
  uint16_t Pgn = 0;
  std::string Name;  // "Russian//\ English", resolved by the language rule
  uint8_t StartBit = 0;
  uint8_t Length = 0;
  std::string Spare1;
  std::string Spare2;
};

// One catalogue line, "SPN190=61444;Name;4.1;16;a;b;c;d": SPN, PGN, name,
// byte.bit, length, two unused fields and two spare texts. A missing
// separator gives an empty field; numbers are their leading decimal digits (0
// when there are none). Never reads past the line.
J1939Str ParseJ1939Line(std::string_view line);

// The leading decimal digits of `text` (after blanks), saturated at UINT32_MAX.
uint32_t LeadingNumber(std::string_view text);

// An SPN typed or stored as text: the whole text (blanks aside) must be
// decimal digits of a value that fits 32 bits.
std::optional<uint32_t> SpnFromText(std::string_view text);

// The register number of a register list item: the text from its 5th
// character up to the character before " (" ("Reg 17 (2 bytes)" gives "17",
// "Not used" gives "").
std::string RegisterOfItem(std::string_view item);

// The 33 items of the register list.
std::vector<std::string> RegisterItems();

// The data-tag mask word and bit a register marks: word 7 (offset 140) for
// 1..8, word 8 (142) for 17..32, word 12 (150) for 81..96. False for others.
bool RegisterMaskBit(uint8_t reg, size_t* offset, int* bit);

// One bus-position entry of the configuration record (5 bytes).
struct CanParamEntry {
  uint16_t Pgn = 0;
  uint8_t StartBit = 0;
  uint8_t Length = 0;
  uint8_t Register = 0;
};
inline constexpr size_t kCanParamOffset = 298;
inline constexpr size_t kCanParamCount = 10;
inline constexpr size_t kCanParamSize = 5;
inline constexpr int kPatternCount = 5;

void PutCanParam(uint8_t* record, size_t index, const CanParamEntry& e);
CanParamEntry GetCanParam(const uint8_t* record, size_t index);

}  // namespace rlv::vehicle
