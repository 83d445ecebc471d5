#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#define RLVEXA_POSIX_FILES 1
#elif defined(_WIN32)
#include "platform/WindowsFiles.h"
#endif

namespace rlv::platform {

namespace fs = std::filesystem;

namespace {

bool Fail(std::string* why, const std::string& reason) {
  if (why != nullptr) *why = reason;
  return false;
}

#ifndef _WIN32  // Windows gives its own reasons: WindowsFiles.h
std::string SystemReason(int error) {
  return std::generic_category().message(error);
}
#endif

std::string Utf8Name(const fs::path& path) {
  const std::u8string name = path.filename().u8string();
  return std::string(name.begin(), name.end());
}

#ifndef _WIN32  // Windows reads in FilesWindows.cpp
std::string TooLarge(size_t max_bytes) {
  return "larger than " + std::to_string(max_bytes) + " bytes";
}
#endif

#ifdef RLVEXA_POSIX_FILES
// Flushes a file or folder to the disk; false when the system refuses.
bool SyncPath(const fs::path& path, bool folder) {
  const int fd = ::open(path.c_str(), (folder ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync a folder
  ::close(fd);
  return ok;
}
#endif

}  // namespace

bool IsTempFileOf(const std::string& name, const std::string& target_name) {
  const std::string prefix = target_name + StdFiles::kTempMark;
  if (name.size() <= prefix.size() || name.size() > prefix.size() + OutputFile::kTempDigits) return false;
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// Windows reads through its wide-character calls: FilesWindows.cpp.
#ifndef _WIN32
std::optional<std::vector<uint8_t>> StdFiles::Read(const std::string& path, size_t max_bytes,
                                                   std::string* why) {
  if (why != nullptr) why->clear();
  const fs::path file = fs::u8path(path);
  // Checked before opening: opening a FIFO for reading waits for a writer.
  std::error_code ec;
  const fs::file_status status = fs::status(file, ec);
  if (ec || !fs::exists(status)) {
    if (ec && ec != std::errc::no_such_file_or_directory) Fail(why, ec.message());
    return std::nullopt;
  }
  if (!fs::is_regular_file(status)) {
    Fail(why, fs::is_directory(status) ? "a folder, not a file" : "not a regular file");
    return std::nullopt;
  }
  std::vector<uint8_t> data;
#ifdef RLVEXA_POSIX_FILES
  // Opened without blocking, then checked again: the name may have been
  // replaced by something else in between.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    Fail(why, SystemReason(errno));
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    Fail(why, "not a regular file");
    return std::nullopt;
  }
  if (static_cast<unsigned long long>(st.st_size) > max_bytes) {
    ::close(fd);
    Fail(why, TooLarge(max_bytes));
    return std::nullopt;
  }
  data.reserve(static_cast<size_t>(st.st_size));
  uint8_t buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      Fail(why, SystemReason(error));
      return std::nullopt;
    }
    if (n == 0) break;
    if (data.size() + static_cast<size_t>(n) > max_bytes) {  // grew while being read
      ::close(fd);
      Fail(why, TooLarge(max_bytes));
      return std::nullopt;
    }
    data.insert(data.end(), buffer, buffer + n);
  }
  ::close(fd);
#else
  const auto size = fs::file_size(file, ec);
  if (!ec && size > max_bytes) {
    Fail(why, TooLarge(max_bytes));
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    Fail(why, "cannot be opened");
    return std::nullopt;
  }
  uint8_t buffer[16384];
  for (;;) {
    in.read(reinterpret_cast<char*>(buffer), sizeof buffer);
    const std::streamsize got = in.gcount();
    if (got > 0) data.insert(data.end(), buffer, buffer + got);
    if (in.bad()) {
      Fail(why, "cannot be read");
      return std::nullopt;
    }
    if (data.size() > max_bytes) {
      Fail(why, TooLarge(max_bytes));
      return std::nullopt;
    }
    if (!in) break;
  }
#endif
  return data;
}
#endif  // _WIN32

// ---------------------------------------------------------------------------
// The system's side of writing: small self-contained functions, one set per
// system. Each returns the reason of a failure, or an empty text.

namespace {

// What is known of a target before it is replaced.
struct TargetInfo {
  bool exists = false;
  fs::perms permissions = fs::perms::none;
};

// Ten to the power of the temporary name's digits.
constexpr uint64_t kTempNames = 10000000000000000ull;
static_assert(OutputFile::kTempDigits == 16, "kTempNames has 16 digits");

// An unpredictable temporary name beside `target`.
fs::path TempName(const fs::path& target) {
  std::random_device rd;
  const uint64_t value = ((static_cast<uint64_t>(rd()) << 32) | rd()) % kTempNames;
  std::string digits = std::to_string(value);
  digits.insert(0, OutputFile::kTempDigits - digits.size(), '0');
  fs::path temp = target;
  temp += StdFiles::kTempMark + digits;
  return temp;
}

// Tries at most this many names before the folder is given up.
constexpr int kTempAttempts = 16;

#ifdef RLVEXA_POSIX_FILES

using NativeHandle = int;
constexpr NativeHandle kNoHandle = -1;

std::string CheckTarget(const fs::path& target, TargetInfo* info) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) {
    if (errno == ENOENT) return {};
    return SystemReason(errno);
  }
  if (S_ISLNK(st.st_mode)) return "a symbolic link, not a file";
  if (S_ISDIR(st.st_mode)) return "a folder, not a file";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  // The rename would replace a file the user may not write: refuse it as a
  // direct write would be refused.
  if (::access(target.c_str(), W_OK) != 0) return SystemReason(errno);
  // The superuser may write anything: a file without any write permission is
  // still one its owner marked read-only.
  if (::geteuid() == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return "the file is read-only";
  info->exists = true;
  info->permissions = static_cast<fs::perms>(st.st_mode & 07777);
  return {};
}

std::string CreateTemp(const fs::path& target, fs::path* temp, NativeHandle* handle) {
  for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
    *temp = TempName(target);
    // A new file only: never one that is there already, never through a link.
    const int fd =
        ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      *handle = fd;
      return {};
    }
    if (errno != EEXIST) return SystemReason(errno);
  }
  return "no free temporary name in the folder";
}

std::string WriteNative(NativeHandle handle, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(handle, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return SystemReason(errno);
    if (n == 0) return SystemReason(ENOSPC);
    data += n;
    size -= static_cast<size_t>(n);
  }
  return {};
}

void CloseNative(NativeHandle* handle) {
  if (*handle != kNoHandle) ::close(*handle);
  *handle = kNoHandle;
}

// Gives the file the target's permissions, flushes it to the disk and closes it.
std::string FinishNative(NativeHandle* handle, const TargetInfo& info) {
  if (info.exists) ::fchmod(*handle, static_cast<mode_t>(info.permissions));
  if (::fsync(*handle) != 0 && errno != EINVAL) {
    const int error = errno;
    CloseNative(handle);
    return SystemReason(error);
  }
  const int closed = ::close(*handle);
  *handle = kNoHandle;
  return closed == 0 ? std::string() : SystemReason(errno);
}

std::string RenameOver(const fs::path& temp, const fs::path& target) {
  if (::rename(temp.c_str(), target.c_str()) != 0) return SystemReason(errno);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  SyncPath(folder, true);  // the rename itself reaches the disk
  return {};
}

std::string AppendNative(const fs::path& path, const std::vector<uint8_t>& content, uint64_t limit,
                         AppendResult* result) {
  *result = AppendResult::kFailed;
  // Checked before opening, and again on the open file: opening a FIFO or a
  // device may block or act, and the name may be replaced in between.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) return "a symbolic link, not a file";
    if (S_ISDIR(st.st_mode)) return "a folder, not a file";
    if (!S_ISREG(st.st_mode)) return "not a regular file";
  } else if (errno != ENOENT) {
    return SystemReason(errno);
  }
  const int fd = ::open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return errno == ELOOP ? std::string("a symbolic link, not a file") : SystemReason(errno);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return "not a regular file";
  }
  if (static_cast<uint64_t>(st.st_size) + content.size() > limit) {
    ::close(fd);
    *result = AppendResult::kFull;
    return {};
  }
  std::string reason = WriteNative(fd, content.data(), content.size());
  if (::close(fd) != 0 && reason.empty()) reason = SystemReason(errno);
  if (reason.empty()) *result = AppendResult::kWritten;
  return reason;
}

#elif defined(_WIN32)  // the system's wide-character calls

using NativeHandle = HANDLE;
const NativeHandle kNoHandle = INVALID_HANDLE_VALUE;

// A path in the form the wide-character calls take; empty when its UTF-8
// text is not valid.
std::wstring Wide(const fs::path& path) {
  const std::u8string text = path.u8string();
  return WidePath(std::string(text.begin(), text.end()));
}

constexpr const char* kNotUtf8 = "the name is not valid UTF-8";

// What a name that exists is, from its attributes; empty for a file on a
// disk. Devices and pipes are refused by their names, without being opened.
std::string RefusedByAttributes(const std::wstring& path, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return "a symbolic link, not a file";
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "a folder, not a file";
  win::Handle h = win::OpenToInspect(path);
  if (!h.Valid()) return win::SystemReason(GetLastError());
  return win::IsRegular(h.h) ? std::string() : std::string("not a regular file");
}

std::string CheckTarget(const fs::path& target, TargetInfo* info) {
  const std::wstring path = Wide(target);
  if (path.empty()) return kNotUtf8;
  if (win::IsDeviceName(path)) return "not a regular file";
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return win::NotFound(error) ? std::string() : win::NoAttributes(path, error);
  }
  if (std::string refused = RefusedByAttributes(path, attributes); !refused.empty()) return refused;
  // The rename would replace a file marked read-only: refuse it as a direct
  // write would be refused.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return "the file is read-only";
  info->exists = true;
  return {};
}

std::string CreateTemp(const fs::path& target, fs::path* temp, NativeHandle* handle) {
  for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
    *temp = TempName(target);
    const std::wstring path = Wide(*temp);
    if (path.empty()) return kNotUtf8;
    // A new file only, shared with no one while it is written.
    const HANDLE h =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      *handle = h;
      return {};
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return win::SystemReason(error);
  }
  return "no free temporary name in the folder";
}

std::string WriteNative(NativeHandle handle, const uint8_t* data, size_t size) {
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD n = 0;
    if (!WriteFile(handle, data, piece, &n, nullptr)) return win::SystemReason(GetLastError());
    if (n == 0) return win::SystemReason(ERROR_DISK_FULL);
    data += n;
    size -= n;
  }
  return {};
}

void CloseNative(NativeHandle* handle) {
  if (*handle != kNoHandle) CloseHandle(*handle);
  *handle = kNoHandle;
}

// Flushes the file to the disk and closes it.
std::string FinishNative(NativeHandle* handle, const TargetInfo&) {
  if (!FlushFileBuffers(*handle)) {
    const DWORD error = GetLastError();
    CloseNative(handle);
    return win::SystemReason(error);
  }
  const bool closed = CloseHandle(*handle) != 0;
  const DWORD error = GetLastError();
  *handle = kNoHandle;
  return closed ? std::string() : win::SystemReason(error);
}

std::string RenameOver(const fs::path& temp, const fs::path& target) {
  const std::wstring from = Wide(temp);
  const std::wstring to = Wide(target);
  if (from.empty() || to.empty()) return kNotUtf8;
  // Returns once the rename has reached the disk.
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return win::SystemReason(GetLastError());
  }
  return {};
}

std::string AppendNative(const fs::path& path, const std::vector<uint8_t>& content, uint64_t limit,
                         AppendResult* result) {
  *result = AppendResult::kFailed;
  const std::wstring file = Wide(path);
  if (file.empty()) return kNotUtf8;
  // Checked before opening, and again on the open file: opening a device or
  // a pipe may block or act, and the name may be replaced in between.
  if (win::IsDeviceName(file)) return "not a regular file";
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (std::string refused = RefusedByAttributes(file, attributes); !refused.empty()) return refused;
  } else if (const DWORD error = GetLastError(); !win::NotFound(error)) {
    return win::NoAttributes(file, error);
  }
  // The link itself, never where it points.
  win::Handle h(CreateFileW(file.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.Valid()) return win::SystemReason(GetLastError());
  BY_HANDLE_FILE_INFORMATION info{};
  if (!win::IsRegular(h.h) || GetFileInformationByHandle(h.h, &info) == 0) return "not a regular file";
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return "a symbolic link, not a file";
  const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size + content.size() > limit) {
    *result = AppendResult::kFull;
    return {};
  }
  std::string reason = WriteNative(h.h, content.data(), content.size());
  if (!h.Close() && reason.empty()) reason = win::SystemReason(GetLastError());
  if (reason.empty()) *result = AppendResult::kWritten;
  return reason;
}

#else  // other systems: the standard library alone

using NativeHandle = std::FILE*;
constexpr NativeHandle kNoHandle = nullptr;

std::string CheckTarget(const fs::path& target, TargetInfo* info) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(target, ec);
  if (ec || !fs::exists(status)) return {};
  if (fs::is_symlink(status)) return "a symbolic link, not a file";
  if (fs::is_directory(status)) return "a folder, not a file";
  if (!fs::is_regular_file(status)) return "not a regular file";
  if ((status.permissions() & fs::perms::owner_write) == fs::perms::none) return "the file is read-only";
  info->exists = true;
  info->permissions = status.permissions();
  return {};
}

std::string CreateTemp(const fs::path& target, fs::path* temp, NativeHandle* handle) {
  for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
    *temp = TempName(target);
    std::error_code ec;
    if (fs::exists(fs::symlink_status(*temp, ec))) continue;
    // "x": a new file only.
    errno = 0;
    *handle = std::fopen(temp->string().c_str(), "wbx");
    if (*handle != nullptr) return {};
    return errno != 0 ? SystemReason(errno) : std::string("the folder cannot be written");
  }
  return "no free temporary name in the folder";
}

std::string WriteNative(NativeHandle handle, const uint8_t* data, size_t size) {
  return std::fwrite(data, 1, size, handle) == size ? std::string() : std::string("write error");
}

void CloseNative(NativeHandle* handle) {
  if (*handle != kNoHandle) std::fclose(*handle);
  *handle = kNoHandle;
}

std::string FinishNative(NativeHandle* handle, const TargetInfo&) {
  const bool flushed = std::fflush(*handle) == 0;
  const bool closed = std::fclose(*handle) == 0;
  *handle = kNoHandle;
  return flushed && closed ? std::string() : std::string("write error");
}

std::string RenameOver(const fs::path& temp, const fs::path& target) {
  std::error_code ec;
  fs::rename(temp, target, ec);
  return ec ? ec.message() : std::string();
}

std::string AppendNative(const fs::path& path, const std::vector<uint8_t>& content, uint64_t limit,
                         AppendResult* result) {
  *result = AppendResult::kFailed;
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  uint64_t size = 0;
  if (!ec && fs::exists(status)) {
    if (fs::is_symlink(status)) return "a symbolic link, not a file";
    if (!fs::is_regular_file(status)) return "not a regular file";
    size = fs::file_size(path, ec);
  }
  if (size + content.size() > limit) {
    *result = AppendResult::kFull;
    return {};
  }
  std::FILE* out = std::fopen(path.string().c_str(), "ab");
  if (out == nullptr) return "cannot be opened";
  const bool ok = std::fwrite(content.data(), 1, content.size(), out) == content.size();
  if (std::fclose(out) != 0 || !ok) return "write error";
  *result = AppendResult::kWritten;
  return {};
}

#endif

// Removes the temporary files that an interrupted save left beside the target.
void RemoveLeftovers(const fs::path& target) {
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const std::string target_name = Utf8Name(target);
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    if (IsTempFileOf(Utf8Name(it->path()), target_name) &&
        fs::is_regular_file(fs::symlink_status(it->path(), ignored))) {
      fs::remove(it->path(), ignored);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// OutputFile

struct OutputFile::Temp {
  fs::path path;
  fs::path target;
  TargetInfo info;
  NativeHandle handle = kNoHandle;
};

OutputFile::OutputFile() = default;

OutputFile::~OutputFile() {
  Discard();
}

bool OutputFile::IsOpen() const {
  return temp_ != nullptr;
}

bool OutputFile::Fail(const std::string& reason) {
  Discard();
  error_ = reason;
  return false;
}

bool OutputFile::Open(const std::string& path) {
  Discard();
  error_.clear();
  target_ = path;
  auto temp = std::make_unique<Temp>();
  temp->target = fs::u8path(path);
  if (std::string refused = CheckTarget(temp->target, &temp->info); !refused.empty()) return Fail(refused);
  RemoveLeftovers(temp->target);
  if (std::string failed = CreateTemp(temp->target, &temp->path, &temp->handle); !failed.empty()) {
    return Fail(failed);
  }
  temp_ = std::move(temp);
  return true;
}

bool OutputFile::Write(const uint8_t* data, size_t size) {
  if (!temp_) return Fail(error_.empty() ? "not open" : error_);
  if (size == 0) return true;
  if (std::string failed = WriteNative(temp_->handle, data, size); !failed.empty()) return Fail(failed);
  return true;
}

bool OutputFile::Commit() {
  if (!temp_) return Fail(error_.empty() ? "not open" : error_);
  if (std::string failed = FinishNative(&temp_->handle, temp_->info); !failed.empty()) return Fail(failed);
  if (std::string failed = RenameOver(temp_->path, temp_->target); !failed.empty()) return Fail(failed);
  temp_.reset();
  return true;
}

void OutputFile::Discard() {
  if (!temp_) return;
  CloseNative(&temp_->handle);
  std::error_code ignored;
  fs::remove(temp_->path, ignored);
  temp_.reset();
}

// ---------------------------------------------------------------------------
// StdFiles

bool StdFiles::WritePiece(OutputFile& out, const uint8_t* data, size_t size) {
  return out.Write(data, size);
}

bool StdFiles::Replace(const std::string& path, const std::vector<uint8_t>& content, std::string* why) {
  if (why != nullptr) why->clear();
  OutputFile out;
  if (!out.Open(path)) return Fail(why, out.Error());
  for (size_t at = 0; at < content.size(); at += kPiece) {
    const size_t n = std::min(kPiece, content.size() - at);
    if (!WritePiece(out, content.data() + at, n)) {
      const std::string reason = out.Error().empty() ? "write error" : out.Error();
      out.Discard();
      return Fail(why, reason);
    }
  }
  if (!out.Commit()) return Fail(why, out.Error());
  return true;
}

AppendResult StdFiles::Append(const std::string& path, const std::vector<uint8_t>& content, uint64_t limit,
                              std::string* why) {
  if (why != nullptr) why->clear();
  AppendResult result = AppendResult::kFailed;
  const std::string reason = AppendNative(fs::u8path(path), content, limit, &result);
  if (!reason.empty()) Fail(why, reason);
  return result;
}

StdFiles& DefaultFiles() {
  static StdFiles files;
  return files;
}

}  // namespace rlv::platform
