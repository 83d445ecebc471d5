#include "net/ServiceProtocol.h"

#include <algorithm>
#include <tuple>

namespace rlv::net {

namespace {

bool IsDigit(char ch) {
  return ch >= '0' && ch <= '9';
}

bool IsControl(char ch) {
  const auto byte = static_cast<unsigned char>(ch);
  return byte < 0x20 || byte == 0x7F;
}

// The decimal number at the start of `text` (0 when it starts with no digit),
// held at a ceiling far above any real build number instead of overflowing.
uint64_t LeadingNumber(std::string_view text) {
  constexpr uint64_t kCeiling = uint64_t{1} << 40;
  uint64_t value = 0;
  for (char ch : text) {
    if (!IsDigit(ch)) break;
    value = std::min(kCeiling, value * 10 + static_cast<uint64_t>(ch - '0'));
  }
  return value;
}

std::string_view From(std::string_view text, size_t pos) {
  return pos < text.size() ? text.substr(pos) : std::string_view{};
}

}  // namespace

std::optional<uint64_t> ParseSize(std::string_view text, uint64_t max) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (char ch : text) {
    if (!IsDigit(ch)) return std::nullopt;
    const auto digit = static_cast<uint64_t>(ch - '0');
    if (value > (max - digit) / 10) return std::nullopt;  // past the limit, never overflowing
    value = value * 10 + digit;
  }
  if (value == 0) return std::nullopt;
  return value;
}

bool IsSafeField(std::string_view text) {
  return !text.empty() &&
         std::none_of(text.begin(), text.end(), [](char ch) { return ch == '#' || IsControl(ch); });
}

std::optional<std::string> SafeFileName(std::string_view path) {
  const size_t cut = path.find_last_of("/\\");
  const std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  if (std::any_of(name.begin(), name.end(), IsControl)) return std::nullopt;
  return std::string(name);
}

std::optional<FirmwareBuild> ParseFirmwareName(std::string_view name) {
  const size_t fw = name.find("fw");
  if (fw == std::string_view::npos) return std::nullopt;
  FirmwareBuild build;
  std::string_view rest = name.substr(fw + 1);  // from the "w" on
  build.version = LeadingNumber(From(rest, 1));
  const size_t underscore = rest.find('_');
  rest = underscore == std::string_view::npos ? std::string_view{} : rest.substr(underscore + 1);
  build.build1 = LeadingNumber(rest);
  build.build2 = LeadingNumber(From(rest, 5));
  build.build3 = LeadingNumber(From(rest, 10));
  return build;
}

bool IsNewerFirmware(const FirmwareBuild& offered, const FirmwareBuild& running) {
  if (offered.build3 != running.build3) return false;
  const auto key = [](const FirmwareBuild& b) {
    return std::make_tuple(static_cast<uint8_t>(b.version), b.build1, b.build2);
  };
  return key(offered) > key(running);
}

bool FirmwareBuildLess(const FirmwareBuild& a, const FirmwareBuild& b) {
  return std::tie(a.version, a.build1, a.build2, a.build3) <
         std::tie(b.version, b.build1, b.build2, b.build3);
}

std::optional<std::vector<uint32_t>> ParseVersion(std::string_view text) {
  std::vector<uint32_t> numbers;
  size_t pos = 0;
  while (true) {
    size_t end = pos;
    while (end < text.size() && IsDigit(text[end])) ++end;
    const size_t digits = end - pos;
    if (digits == 0 || digits > 9 || numbers.size() == 8) return std::nullopt;
    numbers.push_back(static_cast<uint32_t>(LeadingNumber(text.substr(pos, digits))));
    if (end == text.size()) return numbers;
    if (text[end] != '.') return std::nullopt;
    pos = end + 1;
  }
}

int CompareVersions(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  const size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const uint32_t x = i < a.size() ? a[i] : 0;
    const uint32_t y = i < b.size() ? b[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

std::optional<std::vector<uint32_t>> ConfiguratorNameVersion(std::string_view name) {
  const size_t v = name.find("_v");
  if (v == std::string_view::npos) return std::nullopt;
  std::string_view rest = name.substr(v + 2);
  const size_t ext = rest.find(".e");
  if (ext != std::string_view::npos) rest = rest.substr(0, ext);
  return ParseVersion(rest);
}

bool IsNewerConfigurator(std::string_view name, std::string_view own) {
  const auto offered = ConfiguratorNameVersion(name);
  const auto running = ParseVersion(own);
  if (!offered || !running) return false;
  return CompareVersions(*offered, *running) > 0;
}

// ---- FileReceiver ------------------------------------------------------------------

FileReceiver::FileReceiver(uint64_t max_size, std::string not_exists)
    : max_size_(max_size), not_exists_(std::move(not_exists)) {}

void FileReceiver::Reset() {
  state_ = State::kHeader;
  header_.clear();
  name_.clear();
  expected_ = 0;
  surplus_ = 0;
  body_.clear();
}

int FileReceiver::Percent() const {
  if (expected_ == 0) return 0;
  return static_cast<int>(std::min<uint64_t>(100, static_cast<uint64_t>(body_.size()) * 100 / expected_));
}

std::vector<uint8_t> FileReceiver::TakeBody() {
  std::vector<uint8_t> body = std::move(body_);
  Reset();
  return body;
}

FileReceiver::Result FileReceiver::Feed(const uint8_t* data, size_t count) {
  Result result;
  size_t pos = 0;
  // The header is looked at byte by byte, so that it ends exactly where the body starts.
  while (state_ == State::kHeader && pos < count) {
    header_.push_back(static_cast<char>(data[pos++]));
    result = ParseHeader(result);
  }
  if (state_ == State::kBody && pos < count) {
    const uint64_t room = expected_ - body_.size();
    const size_t take = static_cast<size_t>(std::min<uint64_t>(room, count - pos));
    body_.insert(body_.end(), data + pos, data + pos + take);
    surplus_ += count - pos - take;
    result.progress = take > 0;
    if (body_.size() == expected_) {
      state_ = State::kDone;
      result.complete = true;
    }
  } else if (state_ == State::kDone) {
    surplus_ += count - pos;
  }
  return result;
}

FileReceiver::Result FileReceiver::ParseHeader(Result result) {
  const std::string_view text = header_;
  const std::string_view marker = not_exists_;
  // The answer for a missing file, whole or still arriving.
  if (!marker.empty()) {
    if (text.size() >= marker.size() && text.substr(0, marker.size()) == marker) {
      state_ = State::kFailed;
      result.not_exists = true;
      return result;
    }
    if (marker.substr(0, text.size()) == text) return result;
  }
  constexpr std::string_view kFile = "file#";
  if (text.size() < kFile.size()) {
    if (kFile.substr(0, text.size()) == text) return result;
    state_ = State::kFailed;
    result.error = Error::kBadHeader;
    return result;
  }
  if (text.substr(0, kFile.size()) != kFile || text.size() > kMaxHeader) {
    state_ = State::kFailed;
    result.error = Error::kBadHeader;
    return result;
  }
  const size_t name_end = text.find('#', kFile.size());
  if (name_end == std::string_view::npos) return result;
  const size_t size_end = text.find('#', name_end + 1);
  if (size_end == std::string_view::npos) {
    // A size field longer than any size can be is not waited for.
    if (text.size() - name_end - 1 > 20) {
      state_ = State::kFailed;
      result.error = Error::kBadSize;
    }
    return result;
  }
  const auto size = ParseSize(text.substr(name_end + 1, size_end - name_end - 1), max_size_);
  if (!size) {
    state_ = State::kFailed;
    result.error = Error::kBadSize;
    return result;
  }
  name_ = std::string(text.substr(kFile.size(), name_end - kFile.size()));
  expected_ = *size;
  body_.reserve(static_cast<size_t>(std::min<uint64_t>(expected_, uint64_t{1} << 20)));
  state_ = State::kBody;
  result.header = true;
  return result;
}

std::string SocketFailureText(
    platform::SocketError error, const std::string& system_text,
    const std::function<std::string(const char* key, const std::string& def)>& text) {
  using platform::SocketError;
  struct Reason {
    SocketError error;
    const char* key;
    const char* russian;
  };
  static constexpr Reason kReasons[] = {
      {SocketError::ConnectionAborted, "SockAborted", "соединение прервано на этой стороне"},
      {SocketError::ConnectionReset, "SockReset", "сервер сбросил соединение"},
      {SocketError::TimedOut, "SockTimedOut", "время подключения истекло"},
      {SocketError::ConnectionRefused, "SockRefused", "сервер отказал в подключении: порт не слушается"},
      {SocketError::HostUnreachable, "SockUnreachable", "нет маршрута к серверу"},
      {SocketError::HostNotFound, "SockNotFound", "имя сервера не найдено"},
  };
  std::string reason;
  for (const Reason& r : kReasons) {
    if (r.error == error) reason = text(r.key, r.russian);
  }
  if (reason.empty()) {
    // A system's text is outside input: one line, of a sensible length.
    for (const char ch : system_text.substr(0, 200)) reason += (ch == '\n' || ch == '\r') ? ' ' : ch;
  }
  const std::string code = std::to_string(static_cast<int>(error));
  return reason.empty() ? code : code + " (" + reason + ")";
}

}  // namespace rlv::net
