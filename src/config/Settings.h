#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rlv::app {
class MainWindow;
}

namespace rlv::config {

// The configurator's own settings in "config.ini" in the data folder.
class WindowSettings {
 public:
  static constexpr const char* kFile = "config.ini";
  // Documentation-only host: a real installation names its servers in config.ini.
  static constexpr const char* kDefaultServer = "rlvexa.example.com";
  static constexpr uint16_t kDefaultUpdatePort = 10500;
  static constexpr uint16_t kDefaultConfigPort = 10890;

  explicit WindowSettings(app::MainWindow& w) : w_(w) {}

  // Loads every setting; a missing file or key gives its default.
  void ReadFormSettings();
  // Writes back the settings the user can change: language, port, last
  // configuration file and the two check boxes. Nothing else is written.
  bool SaveFormSettings();

  // Remembered tracker passwords ([Passes], keyed by IMEI); 0 means none.
  int ReadPass(const std::string& imei) const;
  bool WritePass(const std::string& imei, int password);

  std::string Path() const;

  std::vector<std::string> ServerList{kDefaultServer};
  uint16_t UpdatePort = kDefaultUpdatePort;
  uint16_t ConfigPort = kDefaultConfigPort;
  // The GNSS receiver firmware version this configurator installs.
  long long MTK3333FW = 0;

 private:
  app::MainWindow& w_;
};

}  // namespace rlv::config
