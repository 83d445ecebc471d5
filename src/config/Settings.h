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
  // configuration file and the two check boxes. Nothing else is written; the
  // port only when it is the user's own (see PortIsTheUsers).
  // False, with LastError, when the file cannot be written; a settings file
  // that exists but cannot be read is never replaced.
  bool SaveFormSettings();

  // Remembered tracker passwords ([Passes], keyed by IMEI); 0 means none.
  int ReadPass(const std::string& imei) const;
  bool WritePass(const std::string& imei, int password);

  std::string Path() const;

  // The last failure to read or save the settings file, with its path and
  // reason; empty when there was none.
  std::string LastError;

  std::vector<std::string> ServerList{kDefaultServer};
  uint16_t UpdatePort = kDefaultUpdatePort;
  uint16_t ConfigPort = kDefaultConfigPort;
  // The GNSS receiver firmware version this configurator installs.
  long long MTK3333FW = 0;
  // A write lists the fields it changes and asks first ([Settings] ReviewBeforeWrite, read only).
  bool ReviewBeforeWrite = true;
  // A run that must leave the user's settings as they are (the command line):
  // the close writes nothing. [Passes] are still written by their own calls.
  bool KeepUserSettings = false;
  // The name of the simulated tracker's port: never remembered, and ignored
  // when an earlier version remembered it.
  static constexpr const char* kDemoPort = "DEMO";

 private:
  // The error text `key` of the language file with the path and the reason.
  std::string Problem(const char* key, const std::string& why) const;

  // True when the port in use is the user's own, not one of this run alone
  // (the demo tracker, a port declared on the command line).
  bool PortIsTheUsers() const;

  app::MainWindow& w_;
};

}  // namespace rlv::config
