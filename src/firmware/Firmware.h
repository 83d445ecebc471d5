#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"

namespace rlv::app {
class MainWindow;
}
namespace rlv::ui {
class ControlModel;
}

namespace rlv::firmware {

// A firmware image file: a 512-byte header ("SLFW", hardware type, version,
// body size, CRC, build) followed by the body, little-endian.
struct Image {
  static constexpr size_t kHeaderSize = 512;
  // No tracker firmware comes near this; a larger file is not an image.
  static constexpr size_t kMaxFileSize = 16u << 20;

  std::string path;
  std::vector<uint8_t> file;  // header and body, exactly as read
  uint8_t hardware = 0;
  uint8_t version = 0;
  uint32_t body_size = 0;
  uint32_t crc = 0;
  uint16_t build1 = 0;
  uint16_t build2 = 0;
  uint8_t build3 = 0;

  uint32_t FileSize() const { return body_size + static_cast<uint32_t>(kHeaderSize); }
  const uint8_t* Header() const { return file.data(); }
  const uint8_t* Body() const { return file.data() + kHeaderSize; }
};

enum class ImageVerdict {
  kOk,
  kNotImage,       // too short, wrong magic, a body size of 0 or one the file does not have
  kWrongHardware,  // built for another kind of tracker
};

// Checks a file's bytes. `device_type` is compared by its low four bits unless
// `any_hardware`. On kOk `out` holds the parsed image (without its path).
ImageVerdict ParseImage(std::vector<uint8_t> file, uint8_t device_type, bool any_hardware, Image* out);

// Firmware image, bootloader flashing over USB and through the tunnel, and
// the GNSS receiver update.
class Firmware {
 public:
  // Blocks of the bootloader (command 20) and of the tunnel (command 209).
  static constexpr uint32_t kUsbBlock = 1024;
  static constexpr uint32_t kTunnelBlock = 512;
  // Seconds the tracker has to answer one step.
  static constexpr uint8_t kUsbStepTimeout = 5;
  static constexpr uint8_t kTunnelStepTimeout = 20;
  // Seconds the tracker has to come back as its bootloader after the restart.
  static constexpr uint8_t kRestartTimeout = 20;

  explicit Firmware(app::MainWindow& w);
  ~Firmware();
  Firmware(const Firmware&) = delete;
  Firmware& operator=(const Firmware&) = delete;

  static void DeclareControls(ui::ControlModel& model);
  void BindHandlers();

  // ---- Image file
  void Open_fwClick();
  // Opens and checks an image; the selected image changes only when it passes.
  bool OpenFWFileSTM(const std::string& path);
  void TabSheet9Show();
  bool HasImage() const { return image_ != nullptr; }
  const Image* SelectedImage() const { return image_.get(); }
  uint32_t ImageBodySize() const { return image_ ? image_->body_size : 0; }
  void CloseImageFile();

  // ---- Bootloader flashing
  void RebootinBootClick();
  void Program_flashClick();
  void Bootloader_version(uint8_t version, uint8_t type);
  void FlashBegin();
  void FlashSendSize(uint32_t size);
  void FlashSendHeader();
  void FlashSendBlock(uint32_t offset);
  void RemoteFlashSendBlock(uint32_t offset);
  // Answers to commands 16, 18, 19, 20, 21 and 209, by their status byte.
  void OnFlashAnswer(uint8_t command, uint8_t status);
  void OnRemoteFlashAnswer(uint8_t status);

  // ---- GNSS receiver update
  static constexpr const char* kAgentFile = "MT3333DA.bin";
  static constexpr const char* kFirmwareFile = "MT3333ROM.bin";
  static constexpr int kGnssIdleInterval = 150;
  static constexpr int kGnssChunkInterval = 1;
  static constexpr int kGnssStartTicks = 100;  // 15 s at 150 ms
  static constexpr size_t kGnssBufferSize = 2048;
  static constexpr size_t kGnssMaxReply = 4096;
  static constexpr size_t kGnssAgentChunk = 10;
  static constexpr size_t kGnssFirmwareChunk = 1024;

  void GNSSUPDClick();
  void MTK3333UPDStart();
  void Timer2Timer();
  // Receive event while the GNSS receiver update owns the port.
  void MTK3333UPDRxChar(int count);
  void MTK3333UPDStop();
  void Button22Click() { MTK3333UPDStop(); }
  // Every write starts a new reply of the receiver's own protocol.
  void ResetGnssReply() { GnssReceived = 0; }

  int GnssStep = 0;
  std::array<uint8_t, kGnssBufferSize> GnssBuffer{};
  int GnssExpected = 0;
  uint16_t GnssReceived = 0;
  int GnssTimeout = 0;
  int32_t GnssSent = 0;
  std::unique_ptr<platform::ITimer> Timer2;

 private:
  void ShowMessage(int number);
  void ShowImage(const Image& image);
  void SetProgress(uint64_t done, uint64_t total);
  // The update ends without reaching its end: the page is no longer frozen.
  void EndUpdate();
  void SendFlash(uint8_t command, const uint8_t* payload, uint16_t length);

  // GNSS helpers.
  void GnssSend(const uint8_t* data, size_t count, int expected);
  void GnssSendExpectSame(const uint8_t* data, size_t count);
  void GnssAgentChunk();
  void GnssFirmwareChunk();
  bool GnssOpenFirmware();
  // Shows the receiver update's step on Label28 in the window's language.
  void GnssLabel(const char* key, const std::string& fallback);
  void GnssCloseFile();
  bool GnssStopTail(const std::string& text);

  app::MainWindow& w_;
  std::unique_ptr<Image> image_;
  // The receiver update's file in memory, and the agent's size for N.
  std::vector<uint8_t> gnss_file_;
  bool gnss_file_open_ = false;
  uint32_t gnss_agent_size_ = 0;
  std::vector<uint8_t> gnss_rx_;
};

}  // namespace rlv::firmware
