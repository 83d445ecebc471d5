// The file service on Windows: the system's wide-character calls, with the
// program's UTF-8 paths converted at this boundary.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <random>
#include <streambuf>
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

std::string Utf8Name(const fs::path& path) {
  const std::u8string name = path.filename().u8string();
  return std::string(name.begin(), name.end());
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

// An unbuffered stream buffer over a file handle: every write is a WriteFile.
class HandleBuffer : public std::streambuf {
 public:
  explicit HandleBuffer(HANDLE h) : h_(h) {}
  DWORD error() const { return error_; }

 protected:
  std::streamsize xsputn(const char* data, std::streamsize size) override {
    std::streamsize done = 0;
    while (done < size) {
      const DWORD piece = static_cast<DWORD>(std::min<std::streamsize>(size - done, 1 << 20));
      DWORD written = 0;
      if (!WriteFile(h_, data + done, piece, &written, nullptr) || written == 0) {
        error_ = GetLastError();
        break;
      }
      done += written;
    }
    return done;
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }

 private:
  HANDLE h_;
  DWORD error_ = 0;
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

bool StdFiles::WritePiece(std::ostream& out, const uint8_t* data, size_t size) {
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

bool StdFiles::Replace(const std::string& path, const std::vector<uint8_t>& content, std::string* why) {
  if (why != nullptr) why->clear();
  const std::wstring target = WidePath(path);
  if (target.empty()) return Fail(why, path.empty() ? "no file name" : "the name is not valid UTF-8");
  const DWORD attributes = GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  const DWORD attributes_error = exists ? 0 : GetLastError();
  if (!exists && !NotFound(attributes_error)) return Fail(why, NoAttributes(target, attributes_error));
  if (exists) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Fail(why, "a folder, not a file");
    Handle h = OpenToInspect(target);
    if (!h.Valid()) return Fail(why, SystemReason(GetLastError()));
    if (!IsRegular(h.h)) return Fail(why, "not a regular file");
    // The rename would replace a file the user marked read-only, or one the
    // user may not write: refused as a direct write would be.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return Fail(why, "the file is read-only");
    Handle writable(CreateFileW(target.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!writable.Valid()) return Fail(why, SystemReason(GetLastError()));
  }

  const fs::path target_path(target);
  const fs::path folder = target_path.has_parent_path() ? target_path.parent_path() : fs::path(L".");
  const std::string target_name = Utf8Name(target_path);
  // Temporary files that an interrupted save left beside the target.
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    if (IsTempFileOf(Utf8Name(it->path()), target_name) && it->is_regular_file(ignored)) {
      fs::remove(it->path(), ignored);
    }
  }

  // A new name of our own: CREATE_NEW never opens what is already there.
  std::random_device rd;
  std::wstring temp;
  Handle out(INVALID_HANDLE_VALUE);
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 8 && !out.Valid(); ++attempt) {
    temp = target + WidePath(kTempMark + std::to_string(rd() % 1000000));
    out.h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!out.Valid()) {
      error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
  }
  if (!out.Valid()) return Fail(why, SystemReason(error));

  auto discard = [&](const std::string& reason) {
    out.Close();
    DeleteFileW(temp.c_str());
    return Fail(why, reason);
  };
  {
    HandleBuffer buffer(out.h);
    std::ostream stream(&buffer);
    for (size_t at = 0; at < content.size(); at += kPiece) {
      const size_t n = std::min(kPiece, content.size() - at);
      if (!WritePiece(stream, content.data() + at, n)) {
        return discard(buffer.error() != 0 ? SystemReason(buffer.error()) : "write error");
      }
    }
  }
  if (!FlushFileBuffers(out.h)) return discard(SystemReason(GetLastError()));
  if (!out.Close()) return discard(SystemReason(GetLastError()));

  // A replaced file keeps its hidden and system marks.
  if (exists) {
    const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (kept != 0) SetFileAttributesW(temp.c_str(), kept);
  }
  if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return discard(SystemReason(GetLastError()));
  }
  return true;
}

}  // namespace rlv::platform
