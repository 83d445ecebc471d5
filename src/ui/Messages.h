#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/IniFile.h"

namespace rlv::app {
class MainWindow;
}

namespace rlv::ui {

// Formats a text that carries one integer placeholder (%d, %i or %u; "%%" is a
// percent sign). Anything else that looks like a conversion is shown as it
// stands, so a text from the language file never reads an argument it was not given.
std::string FormatInt(const std::string& format, long long value);
// The same for a text that carries an integer and then a text (%d then %s).
std::string FormatIntText(const std::string& format, long long value, const std::string& text);

// Picks one language out of a bilingual value "Russian//\ English": the part
// before the separator in Russian, the part after the separator and one more
// character in English. A value without the separator is shown whole.
std::string ReadLangStr(std::string_view value, std::string_view language);

// The language file, the message catalogue and the message panel.
class Messages {
 public:
  static constexpr const char* kLanguageFile = "language.lng";

  explicit Messages(app::MainWindow& w) : w_(w) {}

  // "russian" or "english"; anything but "english" reads as Russian.
  std::string LanguageName = "russian";

  std::string ReadLangStr(std::string_view value) const;
  // Message `number`; "Message" followed by the number when the file has none.
  std::string GetMessageA(int number) const;
  // A text of the language file; empty when missing.
  std::string GetString(std::string_view section, std::string_view key) const;
  // A text of the language file with a default for a missing file or key.
  std::string GetStringOr(std::string_view section, std::string_view key, const std::string& def) const;
  // The data folder's language file (written by the help editor).
  std::string LanguagePath() const;
  // The language file: the data folder's, else the one shipped beside the
  // executable. Kept in memory and read again only when a file changes on
  // disk. nullptr when there is none that can be read.
  const platform::IniDocument* LanguageDocument() const;
  // A copy of it, to edit.
  std::optional<platform::IniDocument> LoadLanguageFile() const;
  // The help editor has written `doc` as the data folder's language file.
  void LanguageFileWritten(const platform::IniDocument& doc);

  // Shows `text` on page 0 of the message panel.
  void MessageShow(const std::string& text);
  void OKMESClick();

 private:
  // What a file on disk looked like when it was read.
  struct FileStamp {
    bool exists = false;
    uintmax_t size = 0;
    std::filesystem::file_time_type time{};
    bool operator==(const FileStamp&) const = default;
  };
  static FileStamp StampOf(const std::string& path);
  std::string ProgramLanguagePath() const;

  app::MainWindow& w_;
  mutable bool cached_ = false;
  mutable FileStamp data_stamp_, program_stamp_;
  mutable std::optional<platform::IniDocument> cache_;
};

}  // namespace rlv::ui
