// Serial lines on Linux: the device opened first on a descriptor of our own.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "SerialLine.h"

namespace rlv::qtp {

namespace {

using platform::OpenError;
using platform::OpenErrorKind;

// The name of the group that owns `path`; empty when unknown.
std::string OwnerGroup(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  const group* g = getgrgid(st.st_gid);
  return g != nullptr && g->gr_name != nullptr ? std::string(g->gr_name) : std::string();
}

OpenError FromErrno(int error, const std::string& path) {
  OpenError out;
  out.text = std::strerror(error);
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
      out.kind = OpenErrorKind::NotFound;
      break;
    case EACCES:
    case EPERM:
      out.kind = OpenErrorKind::PermissionDenied;
      out.group = OwnerGroup(path);
      break;
    case EBUSY:
      out.kind = OpenErrorKind::Busy;
      break;
    case ENOTTY:
      out.kind = OpenErrorKind::NotATerminal;
      break;
    default:
      out.kind = OpenErrorKind::Other;
      break;
  }
  return out;
}

// Opens the device first on a descriptor of our own, to learn exactly why an
// open fails and to turn off the hang-up on close before QSerialPort saves the
// settings it restores when it closes. Returns the descriptor (kept open until
// QSerialPort has the device, so closing it is never the last close), or -1
// with `error` set.
int PrepareDevice(const std::string& path, OpenError& error) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    error = FromErrno(errno, path);
    return -1;
  }
  if (!S_ISCHR(st.st_mode)) {
    error = {OpenErrorKind::NotATerminal, "not a character device", ""};
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = FromErrno(errno, path);
    return -1;
  }
  if (!isatty(fd)) {
    error = {OpenErrorKind::NotATerminal, "not a terminal", ""};
    ::close(fd);
    return -1;
  }
  termios settings{};
  if (tcgetattr(fd, &settings) == 0 && (settings.c_cflag & HUPCL) != 0) {
    settings.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    tcsetattr(fd, TCSANOW, &settings);
  }
  return fd;
}

}  // namespace

bool SerialLine::Prepare(const std::string& name, platform::OpenError& error) {
  Release();
  fd_ = PrepareDevice(name, error);
  return fd_ >= 0;
}

std::string SerialLine::SystemName(const std::string& name) {
  return name;  // the device path
}

void SerialLine::Opened(QSerialPort&, bool) {
  // QSerialPort has the device now (or failed to): closing ours is never the
  // last close, so it drops no modem line.
  Release();
}

void SerialLine::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace rlv::qtp
