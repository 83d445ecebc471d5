#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace rlv::app {
class MainWindow;
}

namespace rlv::config {

constexpr size_t kRecordSize = 512;

// The working copy of the tracker's configuration and its transfer.
// The record contents, the transfer and the wait indicator are not built yet:
// the operations below are the places the rest of the program calls.
class Configuration {
 public:
  explicit Configuration(app::MainWindow& w) : w_(w) {}

  std::array<uint8_t, kRecordSize> ConfigBlock1{};
  std::array<uint8_t, kRecordSize> ConfigBlock2{};

  void Read_config() {}
  void Read_config2() {}
  // Pages -> records (false, with the conversion error shown, when a field
  // does not convert) and records -> pages.
  bool ReadConfigFromObjects() { return true; }
  void WriteConfigToObjects() {}
  // The reset configuration.
  void Load_default() {}
  void AddToBlueList(int index, const std::string& name) {
    (void)index;
    (void)name;
  }

 private:
  [[maybe_unused]] app::MainWindow& w_;
};

}  // namespace rlv::config
