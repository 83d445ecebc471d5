#pragma once

// What a serial port needs around QSerialPort's own open, one file per
// platform, chosen by the build option RLVEXA_WITH_UDEV:
// - SerialLineTermios.cpp (Linux): the device is opened first on a descriptor
//   of our own, which tells exactly why an open fails (missing, not a
//   terminal, the group that may open it, busy) and turns off the hang-up on
//   close, so that probing a port once a second never pulses DTR and RTS.
// - SerialLinePortable.cpp (Windows, macOS, Linux without udev): Qt alone; the
//   reason of a failed open is QSerialPort's, and DTR and RTS are set off
//   through QSerialPort as soon as the port is open.

#include <QSerialPort>
#include <string>

#include "platform/SerialPort.h"

namespace rlv::qtp {

class SerialLine {
 public:
  SerialLine() = default;
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;
  ~SerialLine() { Release(); }

  // Before QSerialPort opens `name`; false, with the reason in `error`, when
  // the port cannot be opened.
  bool Prepare(const std::string& name, platform::OpenError& error);
  // The name QSerialPort opens for the port the program calls `name`.
  static std::string SystemName(const std::string& name);
  // After QSerialPort's open, whether or not it succeeded.
  void Opened(QSerialPort& port, bool ok);

 private:
  void Release();
  int fd_ = -1;  // our own descriptor while QSerialPort opens (termios)
};

}  // namespace rlv::qtp
