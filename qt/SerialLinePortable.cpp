// Serial lines through Qt alone (Windows, macOS, Linux without udev).
#include "SerialLine.h"
#include "platform/Paths.h"

namespace rlv::qtp {

bool SerialLine::Prepare(const std::string&, platform::OpenError&) {
  return true;
}

std::string SerialLine::SystemName(const std::string& name) {
#ifdef _WIN32
  // "COM10" and above open only in the device form "\\.\COM10".
  const std::string device = platform::WindowsPortDevicePath(name);
  if (!device.empty()) return device;
#endif
  return name;
}

void SerialLine::Opened(QSerialPort& port, bool ok) {
  if (!ok) return;
  // The tracker's port is opened with DTR and RTS off. A pseudo-terminal has
  // no modem lines and refuses both; the port works without them.
  port.setDataTerminalReady(false);
  port.setRequestToSend(false);
}

void SerialLine::Release() {}

}  // namespace rlv::qtp
