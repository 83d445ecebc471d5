#include "platform/Paths.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace rlv::platform {

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == kPathSeparator;
}

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The number of a "COMn" name (1..256), 0 when `name` is not one.
unsigned ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return 0;
  for (size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  if (name[3] == '0') return 0;
  unsigned n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + static_cast<unsigned>(name[i] - '0');
  }
  return n <= 256 ? n : 0;
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  const bool drive = folder.size() == 2 && folder[1] == ':' && IsDriveLetter(folder[0]);
  if (IsSeparator(last) || last == '\\' || drive) return folder + name;
  return folder + kPathSeparator + name;
}

bool IsRelativePath(const std::string& path) {
  if (path.empty()) return true;
  if (IsSeparator(path[0])) return false;
#ifdef _WIN32
  if (path.size() >= 2 && path[1] == ':' && IsDriveLetter(path[0])) return false;
#endif
  return true;
}

std::string WindowsUserDataFolder(const std::string& appdata) {
  if (appdata.empty()) return {};
  std::string folder = appdata;
  while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder + "\\RLvexa";
}

bool CanCreateFilesIn(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path dir = fs::u8path(folder);
  if (!fs::is_directory(dir, ec)) return false;
  std::random_device rd;
  for (int attempt = 0; attempt < 4; ++attempt) {
    const fs::path probe = dir / fs::u8path(".rlvexa-probe" + std::to_string(rd() % 1000000));
    if (fs::exists(probe, ec)) continue;
    bool created = false;
    {
      std::ofstream out(probe, std::ios::binary);
      created = static_cast<bool>(out);
    }
    fs::remove(probe, ec);
    return created;
  }
  return false;
}

std::string WindowsPortName(const std::string& name) {
  std::string bare = name;
  if (bare.size() > 4 && bare.compare(0, 4, "\\\\.\\") == 0) bare.erase(0, 4);
  const unsigned n = ComNumber(bare);
  return n == 0 ? std::string() : "COM" + std::to_string(n);
}

std::string WindowsPortDevicePath(const std::string& name) {
  const std::string port = WindowsPortName(name);
  return port.empty() ? std::string() : "\\\\.\\" + port;
}

bool PortNameLess(const std::string& a, const std::string& b) {
  // Split each name into its text and its trailing number.
  auto split = [](const std::string& s) {
    size_t digits = s.size();
    while (digits > 0 && s[digits - 1] >= '0' && s[digits - 1] <= '9') --digits;
    return digits;
  };
  const size_t da = split(a), db = split(b);
  const std::string_view ta(a.data(), da), tb(b.data(), db);
  if (ta != tb || da == a.size() || db == b.size()) return a < b;
  std::string_view na(a.data() + da, a.size() - da), nb(b.data() + db, b.size() - db);
  while (na.size() > 1 && na.front() == '0') na.remove_prefix(1);
  while (nb.size() > 1 && nb.front() == '0') nb.remove_prefix(1);
  if (na.size() != nb.size()) return na.size() < nb.size();
  if (na != nb) return na < nb;
  return a < b;
}

#ifdef _WIN32
std::wstring WidePath(const std::string& utf8) {
  if (utf8.empty() || utf8.size() > 0x7fffffff) return {};
  const int size = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), n);
  return wide;
}

std::string Utf8FromWide(const std::wstring& wide) {
  if (wide.empty() || wide.size() > 0x7fffffff) return {};
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
  return utf8;
}
#endif

}  // namespace rlv::platform
