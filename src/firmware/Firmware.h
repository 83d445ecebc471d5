#pragma once

#include <cstdint>

namespace rlv::app {
class MainWindow;
}

namespace rlv::firmware {

// Firmware image, bootloader flashing and the GNSS receiver update. Not built
// yet: the operations below are the places the link and the dispatcher call.
class Firmware {
 public:
  explicit Firmware(app::MainWindow& w) : w_(w) {}

  void Bootloader_version(uint8_t version, uint8_t type) {
    (void)version;
    (void)type;
  }
  uint32_t ImageBodySize() const { return 0; }
  void SendImageHeader() {}
  void SendImageBlock(uint32_t offset) { (void)offset; }
  void RemoteFlashSendBlock(uint32_t offset) { (void)offset; }
  void CloseImageFile() {}
  // Receive event while the GNSS receiver update owns the port.
  void MTK3333UPDRxChar(int count) { (void)count; }
  // Every write starts a new reply of the receiver's own protocol.
  void ResetGnssReply() { GnssReplyCount = 0; }

  int GnssReplyCount = 0;

 private:
  [[maybe_unused]] app::MainWindow& w_;
};

}  // namespace rlv::firmware
