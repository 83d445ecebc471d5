#include "platform/IniFile.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Files.h"

namespace rlv::platform {

namespace {

std::string_view Trim(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const size_t last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

IniDocument::Line IniDocument::Classify(std::string text) {
  Line line;
  const std::string_view t = Trim(text);
  if (!t.empty() && t.front() == '[') {
    const size_t close = t.find(']');
    if (close != std::string_view::npos) {
      line.type = Line::Type::Section;
      line.name = std::string(Trim(t.substr(1, close - 1)));
    }
  } else if (!t.empty() && t.front() != ';' && t.front() != '#') {
    const size_t eq = t.find('=');
    if (eq != std::string_view::npos && eq > 0) {
      line.type = Line::Type::Key;
      line.name = std::string(Trim(t.substr(0, eq)));
      std::string_view value = Trim(t.substr(eq + 1));
      // Double quotes around a value keep its blanks.
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
      line.value = std::string(value);
    }
  }
  line.text = std::move(text);
  return line;
}

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument doc;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    doc.bom_ = true;
    text.remove_prefix(3);
  }
  doc.crlf_ = text.find("\r\n") != std::string_view::npos;
  doc.final_newline_ = text.empty() || text.back() == '\n';
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(start, end - start);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    doc.lines_.push_back(Classify(std::string(raw)));
    start = end + 1;
  }
  return doc;
}

std::string IniDocument::Serialize() const {
  std::string out;
  if (bom_) out = "\xEF\xBB\xBF";
  const char* eol = crlf_ ? "\r\n" : "\n";
  for (size_t i = 0; i < lines_.size(); ++i) {
    out += lines_[i].text;
    if (i + 1 < lines_.size() || final_newline_) out += eol;
  }
  return out;
}

size_t IniDocument::FindSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].type == Line::Type::Section && EqualNoCase(lines_[i].name, section)) return i;
  }
  return std::string::npos;
}

bool IniDocument::HasSection(std::string_view section) const {
  return FindSection(section) != std::string::npos;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
  bool inside = false;
  for (const Line& line : lines_) {
    if (line.type == Line::Type::Section) {
      inside = EqualNoCase(line.name, section);
    } else if (inside && line.type == Line::Type::Key && EqualNoCase(line.name, key)) {
      return line.value;
    }
  }
  return std::nullopt;
}

std::vector<std::string> IniDocument::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  bool inside = false;
  for (const Line& line : lines_) {
    if (line.type == Line::Type::Section) {
      inside = EqualNoCase(line.name, section);
    } else if (inside && line.type == Line::Type::Key) {
      bool seen = false;
      for (const auto& k : keys) seen = seen || EqualNoCase(k, line.name);
      if (!seen) keys.push_back(line.name);
    }
  }
  return keys;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string text = std::string(key) + "=" + std::string(value);
  size_t header = FindSection(section);
  if (header == std::string::npos) {
    if (!lines_.empty() && !Trim(lines_.back().text).empty()) lines_.push_back(Classify(""));
    lines_.push_back(Classify("[" + std::string(section) + "]"));
    lines_.push_back(Classify(std::move(text)));
    final_newline_ = true;
    return;
  }
  // Every part of the file with this section's name counts; the key is
  // replaced where it stands, else added after the last key of the first part.
  bool inside = false;
  size_t insert_at = header + 1;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    if (line.type == Line::Type::Section) {
      inside = EqualNoCase(line.name, section);
      continue;
    }
    if (!inside) continue;
    if (line.type == Line::Type::Key && EqualNoCase(line.name, key)) {
      lines_[i] = Classify(lines_[i].text.substr(0, lines_[i].text.find('=') + 1) + std::string(value));
      return;
    }
  }
  for (size_t i = header + 1; i < lines_.size() && lines_[i].type != Line::Type::Section; ++i) {
    if (lines_[i].type == Line::Type::Key) insert_at = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert_at), Classify(std::move(text)));
}

std::optional<long long> ParseInteger(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  long long value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string IIniFiles::ReadString(const std::string& path, std::string_view section, std::string_view key,
                                  const std::string& def) {
  auto doc = Load(path);
  if (!doc) return def;
  return doc->Get(section, key).value_or(def);
}

long long IIniFiles::ReadInteger(const std::string& path, std::string_view section, std::string_view key,
                                 long long def) {
  auto doc = Load(path);
  if (!doc) return def;
  auto value = doc->Get(section, key);
  if (!value) return def;
  return ParseInteger(*value).value_or(def);
}

bool IIniFiles::WriteString(const std::string& path, std::string_view section, std::string_view key,
                            std::string_view value) {
  // A file that exists but cannot be read is left alone, not replaced by one key.
  std::string why;
  auto loaded = Load(path, &why);
  if (!loaded && !why.empty()) return false;
  IniDocument doc = loaded.value_or(IniDocument{});
  doc.Set(section, key, value);
  return Store(path, doc);
}

std::optional<IniDocument> StdIniFiles::Load(const std::string& path, std::string* why) {
  const auto content = DefaultFiles().Read(path, kMaxFileSize, why);
  if (!content) return std::nullopt;
  return IniDocument::Parse(
      std::string_view(reinterpret_cast<const char*>(content->data()), content->size()));
}

bool StdIniFiles::Store(const std::string& path, const IniDocument& document, std::string* why) {
  return WriteFileAtomically(path, document.Serialize(), why);
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* why) {
  // The one way whole files are replaced: temporary file, flush, then rename.
  return DefaultFiles().Replace(path, std::vector<uint8_t>(content.begin(), content.end()), why);
}

}  // namespace rlv::platform
