#pragma once
// Small helpers of the Windows file calls shared by the reading and the
// writing side (FilesWindows.cpp, Files.cpp). Windows only.
#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <windows.h>

#include <string>

#include "platform/Paths.h"

namespace rlv::platform::win {

// The system's text for an error code, in UTF-8 without the closing period.
inline std::string SystemReason(DWORD error) {
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

inline bool NotFound(DWORD error) {
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
inline Handle OpenToInspect(const std::wstring& path) {
  return Handle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// A file on a disk, not a folder, a device (CON, NUL, COM1) or a pipe.
inline bool IsRegular(HANDLE h) {
  if (GetFileType(h) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(h, &info) != 0 && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Why a name without attributes that exists is refused: devices ("\\.\NUL",
// "\\.\COM1") have none, yet they are no files.
inline std::string NoAttributes(const std::wstring& path, DWORD error) {
  Handle h = OpenToInspect(path);
  return h.Valid() && !IsRegular(h.h) ? "not a regular file" : SystemReason(error);
}

// Whether `path` names a device or a pipe by its name alone, so that it is
// refused without being opened (opening a pipe connects to it): the device
// space "\\.\" other than a drive ("\\.\C:\..."), and the names every folder
// holds (CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, with any extension).
inline bool IsDeviceName(const std::wstring& path) {
  auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; };
  if (path.size() >= 4 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/') &&
      path[2] == L'.' && (path[3] == L'\\' || path[3] == L'/')) {
    const bool drive =
        path.size() >= 6 && upper(path[4]) >= L'A' && upper(path[4]) <= L'Z' && path[5] == L':';
    return !drive;
  }
  const size_t slash = path.find_last_of(L"\\/:");
  std::wstring name = path.substr(slash == std::wstring::npos ? 0 : slash + 1);
  name = name.substr(0, name.find(L'.'));
  while (!name.empty() && name.back() == L' ') name.pop_back();
  for (wchar_t& c : name) c = upper(c);
  if (name == L"CON" || name == L"PRN" || name == L"AUX" || name == L"NUL") return true;
  return name.size() == 4 && (name.compare(0, 3, L"COM") == 0 || name.compare(0, 3, L"LPT") == 0) &&
         name[3] >= L'0' && name[3] <= L'9';
}

}  // namespace rlv::platform::win

#endif  // _WIN32
