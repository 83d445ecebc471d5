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
  // The configuration file last opened or saved; "default" when none.
  std::string ConfigPath = "default";

  void Read_config() {}
  void Read_config2() {}
  void ReadFromDevice() {}
  void SetConfigPath(const std::string& path) { (void)path; }
  void StopWait(int message) { (void)message; }
  void ResumeWait() {}
  void AddToBlueList(int index, const std::string& name) {
    (void)index;
    (void)name;
  }

 private:
  [[maybe_unused]] app::MainWindow& w_;
};

}  // namespace rlv::config
