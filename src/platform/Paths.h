#pragma once

#include <string>

namespace rlv::platform {

// The separator of the paths the program builds and shows.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// `folder` and `name` joined with the platform's separator; none is added
// after a separator or a bare drive ("C:"). `name` alone when `folder` is empty.
std::string JoinPath(const std::string& folder, const std::string& name);

// Whether `path` is taken from the data folder: it has neither a drive or
// server ("C:", "\\server") nor a leading separator.
bool IsRelativePath(const std::string& path);

// The user's own data folder on Windows, "%APPDATA%\RLvexa", given the value
// of APPDATA; empty when that is empty.
std::string WindowsUserDataFolder(const std::string& appdata);

// Whether the program may create files in `folder` (UTF-8): a probe file is
// created there and removed. On Windows the access rights of a folder cannot
// be read from its attributes (Program Files is not read-only, yet closed to
// users), so only trying tells.
bool CanCreateFilesIn(const std::string& folder);

// Serial ports on Windows: "COM1" to "COM256" in any case, also in the device
// form "\\.\COM10". The canonical "COMn", or "" when `name` is not one.
std::string WindowsPortName(const std::string& name);
// The device form that opens the port through the system's file calls,
// "\\.\COMn" (required from COM10 on, valid for every port); "" when `name` is
// not a Windows port name.
std::string WindowsPortDevicePath(const std::string& name);
// Port names in the order people count them: COM2 before COM10, ttyS2 before
// ttyS10; otherwise by their text.
bool PortNameLess(const std::string& a, const std::string& b);

#ifdef _WIN32
// UTF-8 to UTF-16 for the system's wide-character calls; empty when `utf8` is
// not valid UTF-8 (or is empty).
std::wstring WidePath(const std::string& utf8);
// UTF-16 from the system to UTF-8.
std::string Utf8FromWide(const std::wstring& wide);
#endif

}  // namespace rlv::platform
