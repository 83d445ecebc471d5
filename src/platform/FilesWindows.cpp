// The file service on Windows: the system's wide-character calls, with the
// program's UTF-8 paths converted at this boundary.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace rlv::platform {

namespace fs = std::filesystem;

namespace {

bool Fail(std::string* why, const std::string& reason) {
  if (why != nullptr) *why = reason;
  return false;
}

// The system's text for an error code, in UTF-8 without the closing period.
std::string SystemReason(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide = n > 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
  if (text != nullptr) LocalFree(text);
  while (!wide.empty() &&
         (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.' || wide.back() == L' '))
    wide.pop_back();
  return wide.empty() ? "system error " + std::to_string(error) : Utf8FromWide(wide);
}

std::string TooLarge(size_t max_bytes) {
  return "larger than " + std::to_string(max_bytes) + " bytes";
}

bool NotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Closes its handle when it goes.
struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  explicit Handle(HANDLE handle) : h(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }
  bool Valid() const { return h != INVALID_HANDLE_VALUE; }
  bool Close() {
    if (!Valid()) return true;
    const bool ok = CloseHandle(h) != 0;
    h = INVALID_HANDLE_VALUE;
    return ok;
  }
};

// Opens an existing name only to learn what it is; nothing is read or written.
Handle OpenToInspect(const std::wstring& path) {
  return Handle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// A file on a disk, not a folder, a device (CON, NUL, COM1) or a pipe.
bool IsRegular(HANDLE h) {
  if (GetFileType(h) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(h, &info) != 0 && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Why a name without attributes that exists is refused: devices ("\\.\NUL",
// "\\.\COM1") have none, yet they are no files.
std::string NoAttributes(const std::wstring& path, DWORD error) {
  Handle h = OpenToInspect(path);
  return h.Valid() && !IsRegular(h.h) ? "not a regular file" : SystemReason(error);
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
