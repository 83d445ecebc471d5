#include "link/PacketCodec.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/MainWindow.h"
#include "link/Bytes.h"
#include "link/Crc.h"

namespace rlv::link {

int PacketCodec::SendPacket(uint8_t command, const uint8_t* payload, uint16_t length) {
  LinkState& s = w_.link;
  if (!s.DevicePresent && !s.RemoteTunnelOpen) return -1;
  if (length > kMaxPayload) return -1;  // would not fit the buffer with its CRC and filler
  uint8_t* tx = TxBuffer_.data();
  std::memcpy(tx, "SLRL", 4);
  PutU16(tx + 4, static_cast<uint16_t>(length + 2));
  tx[6] = kToTracker;
  tx[7] = command;
  if (length > 0 && payload != nullptr) std::memmove(tx + 8, payload, length);
  PutU16(tx + 8 + length, Crc16(tx + 6, static_cast<size_t>(length) + 2));
  int n = length + 10;
  // A frame whose size is a multiple of 8 is followed by one filler byte.
  if (n % 8 == 0) ++n;
  if (s.RemoteTunnelOpen) return w_.remote.Send_gprs_data(tx, n);
  return SendToPort(tx, n);
}

int PacketCodec::SendToPort(const uint8_t* data, int count) {
  if (data == nullptr || count <= 0) return 0;
  if (!w_.link.PortOpen) return 0;
  w_.firmware.ResetGnssReply();
  int result = w_.plat.serial->Write(data, count);
  if (result < 0) {
    w_.discovery.ClosePort();
    result = -1;
  }
  ui::Control* trace = w_.controls.Find("LogMemo");
  if (trace != nullptr && trace->Visible()) {
    trace->AddLine("Send>>>");
    trace->AddLine(BytesToHex(data, static_cast<size_t>(count)));
  }
  if (result < 0) ErrorSendToPort();
  return result;
}

int PacketCodec::SendStrToPort(const char* text) {
  if (text == nullptr) return 0;
  return SendToPort(reinterpret_cast<const uint8_t*>(text), static_cast<int>(std::strlen(text)));
}

int PacketCodec::SendByteToPort(uint8_t value) {
  return SendToPort(&value, 1);
}

void PacketCodec::ErrorSendToPort() {
  w_.discovery.ClosePortConnection();
}

void PacketCodec::ComPortRxChar(int count) {
  if (w_.link.GnssUpdateMode) {
    w_.firmware.MTK3333UPDRxChar(count);
    return;
  }
  LinkState& s = w_.link;
  const bool sleeping = s.RxQuiet == 0;
  if (sleeping) w_.discovery.CatchUpLinkTicks();
  if (s.RxQuiet == 0) s.RxBusyTicks = 0;  // the first bytes since the last scan
  if (count > 0) s.RxPending += static_cast<uint32_t>(count);
  // A full buffer is scanned on the next tick, however busy the line is.
  s.RxQuiet = s.RxPending >= kBufferSize ? 1 : kQuietTicks;
  if (s.FastLink) TakeCompleteFrames();
  if (sleeping) w_.discovery.ScheduleLinkTick();
}

void PacketCodec::TakeCompleteFrames() {
  LinkState& s = w_.link;
  if (!s.PortOpen) {
    rx_held_ = 0;
    return;
  }
  const int n =
      w_.plat.serial->Read(RxBuffer_.data() + rx_held_, static_cast<int>(RxBuffer_.size() - rx_held_));
  if (n > 0) rx_held_ += std::min(static_cast<size_t>(n), RxBuffer_.size() - rx_held_);
  for (;;) {
    const uint8_t* b = RxBuffer_.data();
    if (rx_held_ < 8 || std::memcmp(b, "SLRL", 4) != 0) break;
    const size_t length = GetU16(b + 4);
    const size_t size = 4 + 2 + length + 2;
    if (length < 2 || size > rx_held_ || Crc16(b + 6, length) != GetU16(b + 6 + length)) break;
    // The frame leaves the buffer before it is handled: a handler that scans
    // (or closes the port) never meets it again.
    const std::vector<uint8_t> frame(b + 4, b + size);
    std::memmove(RxBuffer_.data(), b + size, rx_held_ - size);
    rx_held_ -= size;
    std::memset(RxBuffer_.data() + rx_held_, 0, size);
    if (rx_held_ == 0) {
      // Nothing is left for the quiet gate.
      s.RxQuiet = 0;
      s.RxPending = 0;
      s.RxBusyTicks = 0;
    }
    w_.dispatcher.Read_Data(frame.data(), frame.size());
    if (!w_.link.PortOpen) {
      rx_held_ = 0;
      return;
    }
  }
}

void PacketCodec::Receive_analyse() {
  w_.link.RxQuiet = 0;
  w_.link.RxPending = 0;
  w_.link.RxBusyTicks = 0;
  if (!w_.link.PortOpen) {
    rx_held_ = 0;
    return;
  }
  // After what the fast link read early and left here.
  const size_t held = rx_held_;
  rx_held_ = 0;
  const int n = w_.plat.serial->Read(RxBuffer_.data() + held, static_cast<int>(RxBuffer_.size() - held));
  w_.plat.serial->ClearInput();
  const size_t count = held + (n > 0 ? std::min(static_cast<size_t>(n), RxBuffer_.size() - held) : 0);
  if (count == 0) return;
  ScanFrames(RxBuffer_.data(), count);
  std::memset(RxBuffer_.data(), 0, count);
}

void PacketCodec::ScanFrames(const uint8_t* block, size_t count) {
  if (block == nullptr) return;
  // Every "SLRL" is tried, also one inside an earlier frame; the search jumps
  // from one 'S' to the next.
  for (size_t i = 0; i + 4 <= count;) {
    const void* s = std::memchr(block + i, 'S', count - i - 3);
    if (s == nullptr) return;
    i = static_cast<size_t>(static_cast<const uint8_t*>(s) - block);
    if (std::memcmp(block + i, "SLRL", 4) == 0) {
      w_.dispatcher.Read_Data(block + i + 4, count - i - 4);
      i += 5;
    } else {
      ++i;
    }
  }
}

}  // namespace rlv::link
