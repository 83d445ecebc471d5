#include "cli/DeviceSession.h"

#include <utility>

#include "app/MainWindow.h"
#include "cli/Texts.h"
#include "ui/Automation.h"
#include "ui/Shell.h"

namespace rlv::cli {

namespace {
constexpr int kFlashMs = 180000;
}

DeviceSession::DeviceSession(app::MainWindow& w, std::optional<uint16_t> password,
                             ui::ScriptedDialogs* dialogs)
    : w_(w), password_(password), dialogs_(dialogs) {
  w_.controls.Observe([this](const ui::Control& c, ui::Prop prop) {
    if (prop != ui::Prop::Text) return;
    if (c.Name() == "LIMEI") ++device_records_;
    if (c.Name() == "LDateTime") ++navigation_records_;
    if (c.Name() == "LConfigPath") ++config_labels_;
    if (c.Name() == "MESLABEL") last_message_ = c.Text();
    // The status line of this port tells whether its last open failed, and why.
    // A port the user may not open will not open in the next seconds either.
    if (c.Name() == "ComPortDeviceCaption" && !port_.empty() && c.Text().rfind(port_ + ":", 0) == 0) {
      const platform::OpenError error = w_.plat.serial->LastOpenError();
      open_failure_ = link::PortDiscovery::OpenErrorReason(error, w_.plat.devices->ModemManagerRunning());
      if (error.kind == platform::OpenErrorKind::PermissionDenied && denied_.empty()) denied_ = open_failure_;
    }
  });
}

void DeviceSession::Say(const std::string& line) {
  if (progress) progress(line);
}

DeviceSession::Wait DeviceSession::Until(std::function<bool()> done, int ms) {
  return Wait(*this, std::move(done), w_.plat.clock->SteadyMs() + ms);
}

void DeviceSession::Suspend(Wait* wait, std::coroutine_handle<> step) {
  wait_ = wait;
  waiting_step_ = step;
}

bool DeviceSession::Poll() {
  if (wait_ == nullptr) return false;
  const bool done = wait_->done_();
  if (!done && w_.plat.clock->SteadyMs() < wait_->deadline_) return false;
  wait_->result_ = done;
  wait_ = nullptr;
  // The step may wait again before it returns here.
  std::exchange(waiting_step_, {}).resume();
  return true;
}

int DeviceSession::Fail(int status, const std::string& line) {
  error_ = line;
  return status;
}

Task<int> DeviceSession::Connect(std::string port) {
  Say(Tr("waiting for the tracker on %1", {port}));
  port_ = port;
  const bool found = co_await Until(
      [&] {
        return (w_.link.Connected && !w_.link.BootloaderMode && w_.link.PortName == port &&
                device_records_ > 0) ||
               !denied_.empty();
      },
      kConnectMs);
  if (!denied_.empty()) co_return Fail(kExitNoTracker, Tr("cannot open %1: %2", {port, denied_}));
  if (!found && !open_failure_.empty())
    co_return Fail(kExitNoTracker, Tr("cannot open %1: %2", {port, open_failure_}));
  if (!found) co_return Fail(kExitNoTracker, Tr("no tracker answered on %1 within 10 s", {port}));
  imei_ = w_.transfer.TrackerImei;
  Say(Tr("connected: %1", {w_.controls["ComPortDeviceCaption"].Text()}));
  co_return kExitOk;
}

Task<int> DeviceSession::FinishExchange(const char* what, int success_message, std::function<void()> retry) {
  const std::string rejected = w_.messages.GetMessageA(ui::Shell::kMsgPasswordRejected);
  // A tracker that asks for the password again is answered with the remembered
  // one and the operation repeated: a few rounds at most.
  for (int round = 0; round < 5; ++round) {
    ui::Control& pages = w_.controls["PageControlMes"];
    const bool ended = co_await Until(
        [&] {
          const bool asks = w_.controls["MESPANEL"].Visible() && pages.Index() == ui::Shell::kMesPagePassword;
          return w_.transfer.InProgress == config::Transfer::Exchange::kNone || asks || !w_.link.Connected;
        },
        kTransferMs);
    if (!ended) co_return Fail(kExitTransfer, Tr("%1 timed out", {Tr(what)}));
    if (!w_.link.Connected) co_return Fail(kExitTransfer, Tr("%1 failed: the tracker went away", {Tr(what)}));
    if (w_.controls["MESPANEL"].Visible() && pages.Index() == ui::Shell::kMesPagePassword) {
      if (!password_)
        co_return Fail(kExitPassword, Tr("the tracker asks for its password: give --password N"));
      if (password_typed_) co_return Fail(kExitPassword, Tr("the tracker refused the password"));
      password_typed_ = true;
      Say(Tr("sending the password"));
      w_.controls.UserType("PassEdit", std::to_string(*password_));
      w_.controls.UserClick("PassButOK");
      // An accepted password repeats the operation; a refused one shows its message.
      const bool answered = co_await Until(
          [&] {
            return last_message_ == rejected || w_.transfer.InProgress != config::Transfer::Exchange::kNone;
          },
          kTransferMs);
      if (!answered) {
        if (retry) {
          retry();
          continue;
        }
        co_return Fail(kExitTransfer, Tr("no answer to the password"));
      }
      if (last_message_ == rejected) co_return Fail(kExitPassword, Tr("the tracker refused the password"));
      continue;
    }
    if (last_message_ == rejected) {
      // A remembered password that no longer holds has been forgotten: the
      // one given on the command line gets its chance.
      if (password_ && !password_typed_ && retry) {
        retry();
        continue;
      }
      co_return Fail(kExitPassword, Tr("the tracker refused the password"));
    }
    if (last_message_ != w_.messages.GetMessageA(success_message)) {
      // The tracker asked for the password and the remembered one is on its
      // way: an accepted password starts the operation again.
      const bool repeated = co_await Until(
          [&] {
            return w_.transfer.InProgress != config::Transfer::Exchange::kNone || last_message_ == rejected ||
                   (w_.controls["MESPANEL"].Visible() && pages.Index() == ui::Shell::kMesPagePassword);
          },
          3000);
      if (repeated) continue;
      co_return Fail(kExitTransfer, Tr("%1 failed: %2", {Tr(what), last_message_}));
    }
    co_return kExitOk;
  }
  co_return Fail(kExitTransfer, Tr("%1 failed: the tracker keeps asking for the password", {Tr(what)}));
}

Task<int> DeviceSession::Read() {
  Say(Tr("reading the configuration"));
  const int labels = config_labels_;
  auto click = [this] { w_.controls.UserClick("MImage7"); };
  // The configurator reads by itself once the tracker has answered; otherwise the menu's read.
  if (w_.transfer.InProgress == config::Transfer::Exchange::kNone) click();
  const int status = co_await FinishExchange("reading the configuration", 6, click);
  if (status != kExitOk) co_return status;
  // A read that has really come to its end has named its source.
  if (config_labels_ == labels) {
    click();
    const int again = co_await FinishExchange("reading the configuration", 6, click);
    if (again != kExitOk) co_return again;
    if (config_labels_ == labels)
      co_return Fail(kExitTransfer, Tr("%1 failed", {Tr("reading the configuration")}));
  }
  co_return kExitOk;
}

config::text::Records DeviceSession::Current() const {
  return {w_.config.ConfigBlock1, w_.config.ConfigBlock2};
}

Task<int> DeviceSession::Write(config::text::Records records) {
  // The pages show the configuration to write, as opening its file would.
  w_.config.ConfigBlock1 = records.block1;
  w_.config.ConfigBlock2 = records.block2;
  w_.config.WriteConfigToObjects();
  Say(Tr("writing the configuration"));
  auto click = [this] {
    // The review after the read asks before the write: the command has answered it.
    if (dialogs_ != nullptr && w_.review.OnTracker()) dialogs_->QueueConfirm(true);
    w_.controls.UserClick("MImage6");
  };
  click();
  if (w_.transfer.InProgress != config::Transfer::Exchange::kWrite) {
    co_return Fail(kExitBadFile, Tr("the configuration does not build: %1", {last_message_}));
  }
  const config::text::Records sent = Current();
  const int status = co_await FinishExchange("writing the configuration", 7, click);
  if (status != kExitOk) co_return status;
  Say(Tr("verifying"));
  const int read = co_await Read();
  if (read != kExitOk) co_return read;
  const auto differences = config::text::Diff(sent, Current());
  if (!differences.empty()) {
    co_return Fail(kExitTransfer, Tr("the tracker holds another configuration than the one written: %1",
                                     {config::text::FormatDifference(differences.front())}));
  }
  co_return kExitOk;
}

Task<bool> DeviceSession::WaitForNavigation(int ms) {
  const int seen = navigation_records_;
  co_return co_await Until([&] { return navigation_records_ > seen; }, ms);
}

Task<int> DeviceSession::Flash(std::string image_path) {
  if (!w_.firmware.OpenFWFileSTM(image_path)) {
    co_return Fail(kExitBadFile,
                   Tr("%1: not a firmware image for this tracker (%2)", {image_path, last_message_}));
  }
  Say(Tr("updating the firmware"));
  int last_percent = -1;
  w_.controls.UserClick("Program_flash");
  if (!w_.link.FlashInProgress)
    co_return Fail(kExitFirmware, Tr("the firmware update did not start: %1", {last_message_}));
  const bool ended = co_await Until(
      [&] {
        const int percent = w_.controls["Progress_flash"].Position();
        if (percent / 10 != last_percent / 10) Say(Tr("firmware %1%", {std::to_string(percent)}));
        last_percent = percent;
        return !w_.link.FlashInProgress;
      },
      kFlashMs);
  if (!ended) co_return Fail(kExitFirmware, Tr("the firmware update timed out"));
  if (w_.controls["Progress_flash"].Position() != 100) {
    co_return Fail(kExitFirmware, Tr("the firmware update failed: %1", {last_message_}));
  }
  // The tracker starts its new firmware and is identified again.
  const int records = device_records_;
  const bool back = co_await Until(
      [&] { return w_.link.Connected && !w_.link.BootloaderMode && device_records_ > records; }, 60000);
  if (!back) co_return Fail(kExitFirmware, Tr("the tracker did not come back after the firmware update"));
  co_return kExitOk;
}

}  // namespace rlv::cli
