#pragma once

#include <string>

namespace rlv::app {
class MainWindow;
}
namespace rlv::ui {
class ControlModel;
}

namespace rlv::config {

// The configuration file, the transfer to and from the tracker, and the wait
// indicator. Not built yet: the operations below are the places the rest of
// the program calls.
class Transfer {
 public:
  explicit Transfer(app::MainWindow& w) : w_(w) {}

  // Declares this subsystem's controls (called once, after the main window's).
  static void DeclareControls(ui::ControlModel& model) { (void)model; }

  // The configuration file last opened or saved; "default" when none.
  std::string ConfigPath = "default";

  void ReadFromDevice() {}
  void LoadToDevice() {}
  void SetConfigPath(const std::string& path) { (void)path; }
  void StopWait(int message) { (void)message; }
  void ResumeWait() {}

 private:
  [[maybe_unused]] app::MainWindow& w_;
};

}  // namespace rlv::config
