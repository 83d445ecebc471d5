#pragma once

#include <coroutine>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Task.h"
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
// and, on failure, one line naming what failed. The steps are coroutines: a
// step that waits is suspended until Poll() finds its condition met or its
// time up, so several sessions (one per tracker) share the one event loop.
class DeviceSession {
 public:
  static constexpr int kConnectMs = 10000;
  static constexpr int kTransferMs = 30000;

  // `dialogs`, when given, answers the review before a write: the command is the confirmation.
  DeviceSession(app::MainWindow& w, std::optional<uint16_t> password, ui::ScriptedDialogs* dialogs = nullptr);
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  // Waits for the tracker on `port` (its name as the port list shows it) to be
  // identified and to send its device record; ends at once when the port may
  // not be opened (permission denied).
  Task<int> Connect(std::string port);
  // The configuration the tracker holds (read through the menu, password as needed).
  Task<int> Read();
  // The pages from `records`, written through the menu, then read back and compared.
  Task<int> Write(config::text::Records records);
  // The records read last.
  config::text::Records Current() const;
  // Waits for a navigation record (at most `ms`); false when none came.
  Task<bool> WaitForNavigation(int ms);
  // The firmware image through the bootloader.
  Task<int> Flash(std::string image_path);

  // The wait of a step: suspends it until `done` holds or `ms` have passed; its
  // value is the last value of `done`.
  class Wait {
   public:
    bool await_ready() { return done_(); }
    void await_suspend(std::coroutine_handle<> step) { session_.Suspend(this, step); }
    bool await_resume() const { return result_; }

   private:
    friend class DeviceSession;
    Wait(DeviceSession& session, std::function<bool()> done, int64_t deadline)
        : session_(session), done_(std::move(done)), deadline_(deadline) {}
    DeviceSession& session_;
    std::function<bool()> done_;
    int64_t deadline_;
    bool result_ = true;
  };
  Wait Until(std::function<bool()> done, int ms);
  // Resumes the waiting step when its condition holds or its time is up; true when it did.
  bool Poll();

  // The IMEI of the tracker identified by Connect (kept when it goes away later).
  const std::string& Imei() const { return imei_; }
  // The failure of the last step, one line.
  const std::string& Error() const { return error_; }
  // Progress lines (to standard error on a terminal).
  std::function<void(const std::string&)> progress;

 private:
  void Suspend(Wait* wait, std::coroutine_handle<> step);
  int Fail(int status, const std::string& line);
  // Waits for the exchange started by a menu click to end; answers the password panel.
  Task<int> FinishExchange(const char* what, int success_message, std::function<void()> retry);
  void Say(const std::string& line);

  app::MainWindow& w_;
  std::optional<uint16_t> password_;
  ui::ScriptedDialogs* dialogs_;
  Wait* wait_ = nullptr;
  std::coroutine_handle<> waiting_step_;
  bool password_typed_ = false;
  int device_records_ = 0;
  int navigation_records_ = 0;
  int config_labels_ = 0;
  std::string last_message_;
  std::string error_;
  std::string imei_;
  std::string port_;          // the port Connect waits on
  std::string denied_;        // why that port may not be opened, once it was refused
  std::string open_failure_;  // why its last open failed; empty when it opened
};

}  // namespace rlv::cli
