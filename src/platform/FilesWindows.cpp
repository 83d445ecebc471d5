// The file service on Windows: the system's wide-character calls, with the
// program's UTF-8 paths converted at this boundary.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/WindowsFiles.h"

namespace rlv::platform {

namespace fs = std::filesystem;

using win::Handle;
using win::IsRegular;
using win::NoAttributes;
using win::NotFound;
using win::SystemReason;

namespace {

bool Fail(std::string* why, const std::string& reason) {
  if (why != nullptr) *why = reason;
  return false;
}

std::string TooLarge(size_t max_bytes) {
  return "larger than " + std::to_string(max_bytes) + " bytes";
}

}  // namespace

std::optional<std::vector<uint8_t>> StdFiles::Read(const std::string& path, size_t max_bytes,
                                                   std::string* why) {
  if (why != nullptr) why->clear();
  const std::wstring file = WidePath(path);
  if (file.empty()) {
    if (!path.empty()) Fail(why, "the name is not valid UTF-8");
    return std::nullopt;
  }
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (!NotFound(error)) Fail(why, NoAttributes(file, error));
    return std::nullopt;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    Fail(why, "a folder, not a file");
    return std::nullopt;
  }
  Handle h(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.Valid()) {
    Fail(why, SystemReason(GetLastError()));
    return std::nullopt;
  }
  if (!IsRegular(h.h)) {
    Fail(why, "not a regular file");
    return std::nullopt;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h.h, &size)) {
    Fail(why, SystemReason(GetLastError()));
    return std::nullopt;
  }
  if (static_cast<unsigned long long>(size.QuadPart) > max_bytes) {
    Fail(why, TooLarge(max_bytes));
    return std::nullopt;
  }
  std::vector<uint8_t> data;
  data.reserve(static_cast<size_t>(size.QuadPart));
  uint8_t buffer[16384];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h.h, buffer, sizeof buffer, &n, nullptr)) {
      Fail(why, SystemReason(GetLastError()));
      return std::nullopt;
    }
    if (n == 0) break;
    if (data.size() + n > max_bytes) {  // grew while being read
      Fail(why, TooLarge(max_bytes));
      return std::nullopt;
    }
    data.insert(data.end(), buffer, buffer + n);
  }
  return data;
}

}  // namespace rlv::platform
