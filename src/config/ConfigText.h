#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "config/ConfigFile.h"

namespace rlv::config {

// The readable text of the two configuration records: INI-like sections (one
// per settings page), one "KEY = value" line per field in a fixed order, the
// values as the pages show them, and a [raw] section with the bytes that no
// field names. Importing an exported text gives back the same records.
namespace text {

// The two records of one configuration.
struct Records {
  Block block1{};
  Block block2{};
  bool operator==(const Records&) const = default;
};

// One field of the text: "section.KEY" and its value as exported.
struct Entry {
  std::string key;
  std::string value;
};

// A text that cannot be imported: the line (1-based, 0 when the whole text is
// concerned) and what is wrong with it.
class ImportError : public std::runtime_error {
 public:
  ImportError(int line, const std::string& what)
      : std::runtime_error(line > 0 ? "line " + std::to_string(line) + ": " + what : what), line_(line) {}
  int Line() const { return line_; }

 private:
  int line_;
};

// Every field of both records and the unnamed bytes, in the text's order.
std::vector<Entry> Entries(const Records& records);
// The whole text (UTF-8, "\n" line ends).
std::string Export(const Records& records);
// Parses a text; throws ImportError on an unknown, duplicate or missing key,
// a value out of range or a line that is not "KEY = value".
Records Import(std::string_view text);

// A field whose values differ between two configurations.
struct Difference {
  std::string key;
  std::string old_value;  // empty when the field is absent from the old one
  std::string new_value;
};
std::vector<Difference> Diff(const Records& old_records, const Records& new_records);
// "KEY: old -> new".
std::string FormatDifference(const Difference& d);

// The records of a ".fcg" file image (from zeroed records) or of a text.
// Throws ImportError when the content is neither.
Records FromFileContent(const std::vector<uint8_t>& content);
// The ".fcg" file of the records, as this program writes it.
std::vector<uint8_t> ToConfigFile(const Records& records);

}  // namespace text
}  // namespace rlv::config
