#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
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
#endif

namespace rlv::platform {

namespace fs = std::filesystem;

// The Windows side of the file service is FilesWindows.cpp.
#ifndef _WIN32
namespace {

bool Fail(std::string* why, const std::string& reason) {
  if (why != nullptr) *why = reason;
  return false;
}

std::string SystemReason(int error) {
  return std::generic_category().message(error);
}

std::string Utf8Name(const fs::path& path) {
  const std::u8string name = path.filename().u8string();
  return std::string(name.begin(), name.end());
}

std::string TooLarge(size_t max_bytes) {
  return "larger than " + std::to_string(max_bytes) + " bytes";
}

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
#endif  // _WIN32

bool IsTempFileOf(const std::string& name, const std::string& target_name) {
  const std::string prefix = target_name + StdFiles::kTempMark;
  if (name.size() <= prefix.size() || name.size() > prefix.size() + 6) return false;
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

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

bool StdFiles::WritePiece(std::ostream& out, const uint8_t* data, size_t size) {
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

bool StdFiles::Replace(const std::string& path, const std::vector<uint8_t>& content, std::string* why) {
  if (why != nullptr) why->clear();
  const fs::path target = fs::u8path(path);
  std::error_code ec;
  const fs::file_status old_status = fs::status(target, ec);
  const bool exists = !ec && fs::exists(old_status);
  if (exists && !fs::is_regular_file(old_status)) {
    return Fail(why, fs::is_directory(old_status) ? "a folder, not a file" : "not a regular file");
  }
  // The rename would replace a file the user may not write: refuse it as a
  // direct write would be refused.
#ifdef RLVEXA_POSIX_FILES
  if (exists && ::access(target.c_str(), W_OK) != 0) return Fail(why, SystemReason(errno));
  // The superuser may write anything: a file without any write permission is
  // still one its owner marked read-only.
  constexpr fs::perms kAnyWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  if (exists && ::geteuid() == 0 && (old_status.permissions() & kAnyWrite) == fs::perms::none) {
    return Fail(why, "the file is read-only");
  }
#else
  if (exists && (old_status.permissions() & fs::perms::owner_write) == fs::perms::none) {
    return Fail(why, "the file is read-only");
  }
#endif

  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  const std::string target_name = Utf8Name(target);
  // Temporary files that an interrupted save left beside the target.
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    if (IsTempFileOf(Utf8Name(it->path()), target_name) && it->is_regular_file(ignored)) {
      fs::remove(it->path(), ignored);
    }
  }

  std::random_device rd;
  fs::path temp = target;
  temp += kTempMark + std::to_string(rd() % 1000000);

  std::string reason;
  auto discard = [&temp, &reason, why] {
    std::error_code ignored;
    fs::remove(temp, ignored);
    return Fail(why, reason);
  };

  {
    errno = 0;
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      reason = errno != 0 ? SystemReason(errno) : "the folder cannot be written";
      return discard();
    }
    for (size_t at = 0; at < content.size(); at += kPiece) {
      const size_t n = std::min(kPiece, content.size() - at);
      if (!WritePiece(out, content.data() + at, n)) {
        reason = errno != 0 ? SystemReason(errno) : "write error";
        out.close();
        return discard();
      }
    }
    out.flush();
    if (!out) {
      reason = errno != 0 ? SystemReason(errno) : "write error";
      out.close();
      return discard();
    }
    out.close();
    if (out.fail()) {
      reason = "write error";
      return discard();
    }
  }
#ifdef RLVEXA_POSIX_FILES
  if (!SyncPath(temp, false)) {
    reason = SystemReason(errno);
    return discard();
  }
#endif

  // A replaced file keeps the permissions it had.
  if (exists) {
    std::error_code ignored;
    fs::permissions(temp, old_status.permissions(), fs::perm_options::replace, ignored);
  }

  fs::rename(temp, target, ec);
  if (ec) {
    reason = ec.message();
    return discard();
  }
#ifdef RLVEXA_POSIX_FILES
  SyncPath(folder, true);  // the rename itself reaches the disk
#endif
  return true;
}

#endif  // _WIN32

StdFiles& DefaultFiles() {
  static StdFiles files;
  return files;
}

}  // namespace rlv::platform
