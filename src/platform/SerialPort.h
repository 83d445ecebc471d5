#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace rlv::platform {

// One serial port. Open() always uses 9600 baud, 8 data bits, no parity, one
// stop bit, no flow control, DTR and RTS off.
class ISerialPort {
 public:
  virtual ~ISerialPort() = default;
  // Closes the port if open, then opens `name`. Any failure gives false.
  virtual bool Open(const std::string& name) = 0;
  virtual bool IsOpen() const = 0;
  virtual std::string Name() const = 0;
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
