#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace rlv::platform {

// Why the last Open() failed.
enum class OpenErrorKind {
  None,              // the last open succeeded, or none was tried
  NotFound,          // no such device
  NotATerminal,      // the path is not a serial port or terminal
  PermissionDenied,  // the user may not open the device
  Busy,              // another program holds the port
  Other,             // anything else; the text says what
};

struct OpenError {
  OpenErrorKind kind = OpenErrorKind::None;
  std::string text;   // the system's own words, for example "Permission denied"
  std::string group;  // PermissionDenied: the group that owns the device, when known
};

// One serial port. Open() always uses 9600 baud, 8 data bits, no parity, one
// stop bit, no flow control, and leaves the modem lines as the system set them
// when the device was opened: a probe must not pulse DTR or RTS.
class ISerialPort {
 public:
  virtual ~ISerialPort() = default;
  // Closes the port if open, then opens `name`. Any failure gives false, and
  // LastOpenError() tells why.
  virtual bool Open(const std::string& name) = 0;
  virtual bool IsOpen() const = 0;
  virtual std::string Name() const = 0;
  // The reason the last Open() failed; kind None after a successful one.
  virtual OpenError LastOpenError() const = 0;
  // 9600 or 115200.
  virtual bool SetBaudRate(int baud) = 0;
  // Copies up to `max` received bytes into `buffer`; returns how many.
  virtual int Read(uint8_t* buffer, int max) = 0;
  // Drops everything received and not yet read.
  virtual bool ClearInput() = 0;
  // Writes `count` bytes; returns `count`, or -1 when the port reports an error.
  virtual int Write(const uint8_t* data, int count) = 0;
  virtual void Close() = 0;
  // Called on the event-loop thread with the number of newly arrived bytes.
  virtual void SetReceivedHandler(std::function<void(int count)> handler) = 0;
};

}  // namespace rlv::platform
