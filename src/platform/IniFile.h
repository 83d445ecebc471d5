#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rlv::platform {

// An INI text kept line by line, so that writing one key leaves every other
// section, key, comment and blank line exactly as it was. Section and key
// names compare without regard to ASCII letter case; the first of two equal
// keys counts. Values are trimmed of surrounding blanks; a value in double
// quotes keeps its blanks and loses the quotes.
class IniDocument {
 public:
  static IniDocument Parse(std::string_view text);
  std::string Serialize() const;

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // Replaces the key's value, or adds the key at the end of its section, or
  // adds the section at the end of the text.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  bool HasSection(std::string_view section) const;
  // Keys of a section in file order (first occurrence only).
  std::vector<std::string> Keys(std::string_view section) const;

 private:
  struct Line {
    std::string text;
    enum class Type { Other, Section, Key } type = Type::Other;
    std::string name;   // section or key name, trimmed
    std::string value;  // key value, trimmed
  };
  static Line Classify(std::string text);
  // Index of the section's header line, or npos.
  size_t FindSection(std::string_view section) const;

  std::vector<Line> lines_;
  bool bom_ = false;
  bool crlf_ = false;
  bool final_newline_ = true;
};

// The platform's INI service: whole files read anew for each lookup or group
// of lookups, and replaced atomically when written.
class IIniFiles {
 public:
  virtual ~IIniFiles() = default;
  // Settings and language files are never this large; a larger one is refused unread.
  static constexpr size_t kMaxFileSize = 16u << 20;

  // nullopt when the file does not exist (`why` left empty) or cannot be read
  // (`why`, when given, says why: not a regular file, too large, no access).
  virtual std::optional<IniDocument> Load(const std::string& path, std::string* why = nullptr) = 0;
  // Writes the whole document to a temporary file beside `path`, then puts it
  // in place; on any failure an existing file stays as it was, `why` says why
  // and false is returned.
  virtual bool Store(const std::string& path, const IniDocument& document, std::string* why = nullptr) = 0;

  // Single lookups with a default for a missing file or key.
  std::string ReadString(const std::string& path, std::string_view section, std::string_view key,
                         const std::string& def);
  // A value that is not a decimal integer gives the default.
  long long ReadInteger(const std::string& path, std::string_view section, std::string_view key,
                        long long def);
  // Writes one key; the file is created when missing.
  bool WriteString(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value);
};

// Parses a whole decimal integer (optional sign, surrounding blanks allowed).
std::optional<long long> ParseInteger(std::string_view text);

// Reads and writes real files with the standard library.
class StdIniFiles : public IIniFiles {
 public:
  std::optional<IniDocument> Load(const std::string& path, std::string* why = nullptr) override;
  bool Store(const std::string& path, const IniDocument& document, std::string* why = nullptr) override;
};

// Replaces `path` with `content` through a temporary file in the same folder.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* why = nullptr);

}  // namespace rlv::platform
