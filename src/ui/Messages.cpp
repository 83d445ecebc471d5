#include "ui/Messages.h"

#include "app/MainWindow.h"
#include "platform/Paths.h"

namespace rlv::ui {

namespace {

// Walks a format text and hands each conversion to `convert`, which returns
// the replacement, or nullopt to leave the conversion as literal text.
template <typename Convert>
std::string Substitute(const std::string& format, Convert convert) {
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 >= format.size()) {
      out.push_back(format[i]);
      continue;
    }
    const char conv = format[i + 1];
    if (conv == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    if (auto replacement = convert(conv)) {
      out += *replacement;
      ++i;
    } else {
      out.push_back('%');
    }
  }
  return out;
}

bool IsIntConversion(char c) {
  return c == 'd' || c == 'i' || c == 'u';
}

// Length of the UTF-8 sequence that starts with `lead`.
size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

}  // namespace

std::string FormatInt(const std::string& format, long long value) {
  bool used = false;
  return Substitute(format, [&](char conv) -> std::optional<std::string> {
    if (used || !IsIntConversion(conv)) return std::nullopt;
    used = true;
    return std::to_string(value);
  });
}

std::string FormatIntText(const std::string& format, long long value, const std::string& text) {
  int next = 0;  // 0: the integer is due, 1: the text is due, 2: done
  return Substitute(format, [&](char conv) -> std::optional<std::string> {
    if (next == 0 && IsIntConversion(conv)) {
      next = 1;
      return std::to_string(value);
    }
    if (next == 1 && conv == 's') {
      next = 2;
      return text;
    }
    return std::nullopt;
  });
}

std::string ReadLangStr(std::string_view value, std::string_view language) {
  if (value.empty()) return {};
  const size_t q = value.find("//\\");
  if (q == std::string_view::npos) return std::string(value);
  if (language != "english") return std::string(value.substr(0, q));
  size_t start = q + 3;
  if (start < value.size()) start += Utf8Length(static_cast<unsigned char>(value[start]));
  return start >= value.size() ? std::string() : std::string(value.substr(start));
}

std::string Messages::ReadLangStr(std::string_view value) const {
  return ui::ReadLangStr(value, LanguageName);
}

std::string Messages::LanguagePath() const {
  return w_.DataPath(kLanguageFile);
}

Messages::FileStamp Messages::StampOf(const std::string& path) {
  FileStamp stamp;
  std::error_code ec;
  const auto file = std::filesystem::u8path(path);
  const auto status = std::filesystem::status(file, ec);
  if (ec || !std::filesystem::exists(status)) return stamp;
  stamp.exists = true;
  if (std::filesystem::is_regular_file(status)) {
    stamp.size = std::filesystem::file_size(file, ec);
    stamp.time = std::filesystem::last_write_time(file, ec);
  }
  return stamp;
}

std::string Messages::ProgramLanguagePath() const {
  const std::string& program_dir = w_.options.program_dir;
  if (program_dir.empty() || program_dir == w_.options.data_dir) return {};
  return platform::JoinPath(program_dir, kLanguageFile);
}

const platform::IniDocument* Messages::LanguageDocument() const {
  const std::string program_path = ProgramLanguagePath();
  const FileStamp data_stamp = StampOf(LanguagePath());
  const FileStamp program_stamp = program_path.empty() ? FileStamp{} : StampOf(program_path);
  if (cached_ && data_stamp == data_stamp_ && program_stamp == program_stamp_) {
    return cache_ ? &*cache_ : nullptr;
  }
  cached_ = true;
  data_stamp_ = data_stamp;
  program_stamp_ = program_stamp;
  // The data folder's own language file wins; without one, the file shipped
  // beside the executable is used.
  std::string why;
  cache_ = w_.plat.ini->Load(LanguagePath(), &why);
  std::string failed = why.empty() ? std::string() : LanguagePath();
  if (!cache_ && !program_path.empty()) {
    std::string program_why;
    cache_ = w_.plat.ini->Load(program_path, &program_why);
    if (!program_why.empty()) {
      why = program_why;
      failed = program_path;
    }
  }
  if (!why.empty()) {
    // Reported once for each change of the files; the texts fall back to their defaults.
    w_.ReportProblem("The language file " + failed + " cannot be read (" + why + ")");
  }
  return cache_ ? &*cache_ : nullptr;
}

std::optional<platform::IniDocument> Messages::LoadLanguageFile() const {
  const platform::IniDocument* doc = LanguageDocument();
  if (doc == nullptr) return std::nullopt;
  return *doc;
}

void Messages::LanguageFileWritten(const platform::IniDocument& doc) {
  cache_ = doc;
  cached_ = true;
  data_stamp_ = StampOf(LanguagePath());
  const std::string program_path = ProgramLanguagePath();
  program_stamp_ = program_path.empty() ? FileStamp{} : StampOf(program_path);
}

std::string Messages::GetStringOr(std::string_view section, std::string_view key,
                                  const std::string& def) const {
  const platform::IniDocument* doc = LanguageDocument();
  if (doc == nullptr) return ReadLangStr(def);
  auto value = doc->Get(section, key);
  return ReadLangStr(value ? *value : def);
}

std::string Messages::GetMessageA(int number) const {
  return GetStringOr("Messages", "M" + std::to_string(number), "Message" + std::to_string(number));
}

std::string Messages::GetString(std::string_view section, std::string_view key) const {
  return GetStringOr(section, key, "");
}

void Messages::MessageShow(const std::string& text) {
  ControlModel& c = w_.controls;
  c["PageControlMes"].SetIndex(0);
  c["MESLABEL"].SetText(text);
  c["MESPANEL"].SetVisible(true);
  c.SetFocus("OKMES");
}

void Messages::OKMESClick() {
  w_.controls["MESPANEL"].SetVisible(false);
}

}  // namespace rlv::ui
