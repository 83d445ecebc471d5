#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace rlv::app {
class MainWindow;
}

namespace rlv::link {

// The frame codec: builds and writes request frames, collects received bytes
// and finds the frames in them.
//
// Frame: "SLRL", u16 L = payload + 2, direction (0xAA out, 0x55 in), command,
// payload, Crc16 over direction..payload; little-endian.
class PacketCodec {
 public:
  static constexpr size_t kBufferSize = 4096;
  static constexpr size_t kMaxPayload = 4085;
  static constexpr uint8_t kToTracker = 0xAA;
  static constexpr uint8_t kFromTracker = 0x55;
  // Link ticks of silence after which received bytes are scanned.
  static constexpr uint8_t kQuietTicks = 5;
  // Link ticks after which bytes are scanned even though more keep arriving.
  static constexpr uint16_t kMaxBusyTicks = 100;

  explicit PacketCodec(app::MainWindow& w) : w_(w) {}

  // Builds the frame in TxBuffer and sends it to the port, or into the remote
  // tunnel while that is open. Returns the bytes written, 0 when the port is
  // closed, -1 with neither tracker nor tunnel or after a write failure.
  int SendPacket(uint8_t command, const uint8_t* payload, uint16_t length);
  int SendToPort(const uint8_t* data, int count);
  int SendStrToPort(const char* text);
  int SendByteToPort(uint8_t value);
  void ErrorSendToPort();

  // Receive event of the port.
  void ComPortRxChar(int count);
  // Reads what has arrived and scans it; run by the link tick once the port is quiet.
  void Receive_analyse();
  // Hands every frame found in the block to the dispatcher, in order.
  void ScanFrames(const uint8_t* block, size_t count);
  // Forgets bytes read from the port and not yet scanned (the port closed).
  void DropReceived() { rx_held_ = 0; }

  const std::array<uint8_t, kBufferSize>& TxBuffer() const { return TxBuffer_; }
  const std::array<uint8_t, kBufferSize>& RxBuffer() const { return RxBuffer_; }

 private:
  // The fast link: reads what has arrived and hands over the complete frames
  // with a valid checksum at the front of it; the rest waits for the quiet gate.
  void TakeCompleteFrames();

  app::MainWindow& w_;
  std::array<uint8_t, kBufferSize> TxBuffer_{};
  std::array<uint8_t, kBufferSize> RxBuffer_{};
  // Bytes at the start of RxBuffer_ that the fast link read early and left for the gate.
  size_t rx_held_ = 0;
};

}  // namespace rlv::link
