#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/Bytes.h"

namespace rlv::app {
class MainWindow;
}
namespace rlv::ui {
class ControlModel;
}

namespace rlv::protocol {

// The tracker's processor fault log on the hidden testing page: read in eight
// 512-byte blocks, each 21-byte record checked with its Crc8 and listed in
// FLOGGRID up to the first record that fails the check.
class FaultLog {
 public:
  static constexpr size_t kBlockSize = 512;
  static constexpr size_t kBlockCount = 8;
  static constexpr size_t kBufferSize = kBlockSize * kBlockCount;
  static constexpr size_t kRecordSize = 21;
  static constexpr size_t kRecordCount = kBufferSize / kRecordSize;  // 195
  static constexpr uint8_t kEndMarker = 0xFF;
  static constexpr uint8_t kRead = 0;
  static constexpr uint8_t kErase = 1;
  static constexpr const char* kNoRecords = "Нет записей";
  static constexpr int kTestingPage = 3;

  explicit FaultLog(app::MainWindow& w) : w_(w) {}

  static void DeclareControls(ui::ControlModel& model);
  void BindHandlers();

  void Button23Click();
  void Button24Click();
  void TabSheet4Show();
  void Label22DblClick();
  // The tracker's answer to command 177.
  void OnAnswer(const link::Payload& p);
  // Lists the buffer's records in FLOGGRID.
  void ListRecords();

  const std::array<uint8_t, kBufferSize>& Buffer() const { return buffer_; }

 private:
  app::MainWindow& w_;
  std::array<uint8_t, kBufferSize> buffer_{};
};

}  // namespace rlv::protocol
