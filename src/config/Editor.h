#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace rlv::ui {
class Control;
}

namespace rlv::config {

// A text that should be a number and is not. Stops the record build that met it.
class ConversionError : public std::runtime_error {
 public:
  explicit ConversionError(std::string text) : std::runtime_error(text), text_(std::move(text)) {}
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// A text that does not fit its record field.
class FieldTooLong : public std::runtime_error {
 public:
  FieldTooLong(std::string field, size_t limit)
      : std::runtime_error(field), field_(std::move(field)), limit_(limit) {}
  const std::string& Field() const { return field_; }
  size_t Limit() const { return limit_; }

 private:
  std::string field_;
  size_t limit_;
};

// A decimal integer: empty gives 0; leading blanks and a sign are allowed; any
// other text, or a number outside the signed 32-bit range, throws ConversionError.
int32_t UserStrToInt(std::string_view text);

// A decimal fraction written with `separator`; throws ConversionError.
double UserStrToFloat(std::string_view text, char separator);
// Tenths: the fraction times 10, truncated toward zero.
int32_t UserStrToTenths(std::string_view text, char separator);
// `tenths` / 10 in the shortest form (20 -> "2", 15 -> "1,5").
std::string ShortTenths(int tenths, char separator);
// `tenths` / 10 with exactly one decimal digit (30 -> "3,0", -15 -> "-1,5").
std::string FixedTenths(int tenths, char separator);

// The leading decimal digits of a text, as the server port is read: optional
// blanks and sign, then digits up to the first other character; none give 0.
int64_t LeadingNumber(std::string_view text);

// Twelve hexadecimal digits, most significant byte first, into 6 bytes with the
// first pair at out[5]. Positions past the end of a short text count as "0".
void KeyCodeFromStringToArray(std::string_view text, uint8_t* out);
// 6 bytes back into 12 upper-case hexadecimal digits, out[5] first.
std::string KeyCodeToString(const uint8_t* bytes);

// Selects the first item equal to `text` (no selection when none is); returns the index or -1.
int SetIndexComboByText(ui::Control& combo, std::string_view text);

// The bounded-edit rule after a key release: empty becomes "0"; a value above
// `bound` becomes the bound. Returns true when the text was replaced.
bool ApplyBound(ui::Control& edit, int bound, char separator);

}  // namespace rlv::config
