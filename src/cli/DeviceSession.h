#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "cli/CommandLine.h"
#include "config/ConfigText.h"

namespace rlv::app {
class MainWindow;
}
namespace rlv::ui {
class ScriptedDialogs;
}

namespace rlv::cli {

// A tracker driven from the command line through the configurator's own
// controls, as a user would: the menu's read and write, the password panel,
// the firmware page. Every wait is bounded; each step returns an exit status
// and, on failure, one line naming what failed.
class DeviceSession {
 public:
  static constexpr int kConnectMs = 10000;
  static constexpr int kTransferMs = 30000;

  // `dialogs`, when given, answers the review before a write: the command is the confirmation.
  DeviceSession(app::MainWindow& w, std::optional<uint16_t> password, ui::ScriptedDialogs* dialogs = nullptr);

  // Waits for the tracker on `port` (its name as the port list shows it) to be
  // identified and to send its device record.
  int Connect(const std::string& port);
  // The configuration the tracker holds (read through the menu, password as needed).
  int Read();
  // The pages from `records`, written through the menu, then read back and compared.
  int Write(const config::text::Records& records);
  // The records read last.
  config::text::Records Current() const;
  // Waits for a navigation record (at most `ms`); false when none came.
  bool WaitForNavigation(int ms);
  // The firmware image through the bootloader.
  int Flash(const std::string& image_path);

  // The failure of the last step, one line.
  const std::string& Error() const { return error_; }
  // Progress lines (to standard error on a terminal).
  std::function<void(const std::string&)> progress;

 private:
  bool RunUntil(const std::function<bool()>& done, int ms);
  int Fail(int status, const std::string& line);
  // Waits for the exchange started by a menu click to end; answers the password panel.
  int FinishExchange(const char* what, int success_message, const std::function<void()>& retry);
  void Say(const std::string& line);

  app::MainWindow& w_;
  std::optional<uint16_t> password_;
  ui::ScriptedDialogs* dialogs_;
  bool password_typed_ = false;
  int device_records_ = 0;
  int navigation_records_ = 0;
  int config_labels_ = 0;
  std::string last_message_;
  std::string error_;
};

}  // namespace rlv::cli
