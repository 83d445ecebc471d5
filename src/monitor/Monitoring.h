#pragma once

#include <array>
#include <cstdint>

#include "link/Bytes.h"

namespace rlv::app {
class MainWindow;
}

namespace rlv::monitor {

// The tracker's two status records and their readouts. The readouts, the
// event log and the fault log are not built yet.
class Monitoring {
 public:
  explicit Monitoring(app::MainWindow& w) : w_(w) {}

  std::array<uint8_t, 256> NavigationRecord{};
  std::array<uint8_t, 512> DeviceRecord{};

  void Refresh_GPS() {}
  void Refresh_DEVICE() {}
  void Log_decode(uint8_t code) { (void)code; }
  void OnFaultLogAnswer(const link::Payload& p) { (void)p; }

 private:
  [[maybe_unused]] app::MainWindow& w_;
};

}  // namespace rlv::monitor
