#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/Bytes.h"

namespace rlv::app {
class MainWindow;
}

namespace rlv::protocol {

// Command codes of the tracker protocol.
enum Command : uint8_t {
  kIdentify = 0,
  kRestart = 4,
  kFlashStart = 16,
  kFlashSize = 18,
  kFlashHeader = 19,
  kFlashBlock = 20,
  kFlashEnd = 21,
  kConfigRead = 32,
  kConfigWrite = 33,
  kStatusRecord = 34,
  kPassword = 37,
  kDeleteTrack = 38,
  kEventLog = 41,
  kTransparentPort = 52,
  kModbusRead = 57,
  kTestPacket = 61,
  kTachograph = 69,
  kBluetoothScan = 72,
  kBluetoothPair = 73,
  kBluetoothList = 74,
  kTestSms = 176,
  kFaultLog = 177,
  kRemoteFlashBlock = 209,
  kGeneric = 255,
};

// The one dispatcher for every accepted response frame.
class Dispatcher {
 public:
  explicit Dispatcher(app::MainWindow& w) : w_(w) {}

  // `frame` points at the length field of a frame (just after its magic);
  // `available` is the number of received bytes from there to the end of the
  // block. Frames that run past the block, fail their CRC or do not come from
  // the tracker are dropped without a message.
  void Read_Data(const uint8_t* frame, size_t available);
  std::string StatusText(uint8_t status) const;

  // Dispatch of an accepted frame by its command code.
  void Dispatch(uint8_t command, const link::Payload& p);

 private:
  void Show(const std::string& text);
  void ShowMessage(int number);
  void OnConfigRead(const link::Payload& p);
  void OnConfigWrite(const link::Payload& p);
  void OnStatusRecord(const link::Payload& p);
  void OnModbusRead(const link::Payload& p);
  void OnTachograph(const link::Payload& p);
  void OnBluetooth(uint8_t command, const link::Payload& p);
  void Unrecognised(uint8_t command);

  app::MainWindow& w_;
};

}  // namespace rlv::protocol
