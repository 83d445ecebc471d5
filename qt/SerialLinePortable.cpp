// Serial lines through Qt alone (Windows, macOS, Linux without udev).
#include "SerialLine.h"

namespace rlv::qtp {

bool SerialLine::Prepare(const std::string&, platform::OpenError&) {
  return true;
}

void SerialLine::Opened(QSerialPort& port, bool ok) {
  if (!ok) return;
  // The tracker's port is opened with DTR and RTS off. A pseudo-terminal
  // refuses the modem lines: that error is answered here, not by the link.
  port.setDataTerminalReady(false);
  port.setRequestToSend(false);
}

void SerialLine::Release() {}

}  // namespace rlv::qtp
