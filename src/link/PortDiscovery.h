#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "platform/Devices.h"
#include "platform/SerialPort.h"

namespace rlv::app {
class MainWindow;
}

namespace rlv::link {

// Finds the tracker's port, probes ports with the identify command, keeps the
// connection alive with the status polls and tears it down when it is lost.
class PortDiscovery {
 public:
  // What keeps the search from reaching the tracker, as far as the link can tell.
  enum class Trouble {
    None,
    AccessDenied,  // a port exists but the user may not open it
    PortHeld,      // the tracker's port is busy or silent while a modem manager runs
  };

  explicit PortDiscovery(app::MainWindow& w) : w_(w) {}

  bool FindUsbPort();
  // Whether the port search takes a serial device for the tracker's.
  static bool IsTrackerDevice(const platform::UsbSerialDevice& device);
  void CheckDevicePresence();
  bool OpenPort(const std::string& name);
  void ClosePort();
  void SetSearching(bool on);
  void SelectNextPort();
  bool TypeConnectedDevice(uint8_t type);
  static std::string TypeDeviceToString(uint8_t type);
  void ResetDevice(uint8_t mode);
  void ClosePortConnection();
  void ClearStatusRecords();
  void ButtonEnabled(bool on);

  // The link duties of the two ticks.
  void LinkTick();
  void DiscoveryTick();
  // Probes the port the search stands on now, as the discovery tick does, and
  // gives the answer a whole discovery period from here. Run right after a
  // presence check (at start and when a device comes), so a tracker is found
  // without waiting for the next tick; the tick stays for the retries.
  void ProbeNow();

  // The 10 ms link tick sleeps while nothing is due: its timer is armed for
  // the next tick with work (a scan of received bytes, a poll), and the ticks
  // in between are run at once when it fires, so every count stays as if the
  // timer had ticked every 10 ms.
  static constexpr int kLinkTickMs = 10;
  // The longest sleep, also with nothing at all due.
  static constexpr int kMaxSleepTicks = 100;
  // Starts the tick grid now and arms the timer.
  void StartLinkTicks();
  // The timer fired: runs every tick that has come due, then sleeps again.
  void OnLinkTimer();
  // Runs the ticks that came due while the timer slept; call before an event
  // that changes what the ticks do (bytes received, a tracker identified).
  void CatchUpLinkTicks();
  // Arms the timer for the next tick with work; call after such an event.
  void ScheduleLinkTick();
  void StopLinkTicks();
  // Turns the navigation poll on every tenth tick on or off (used while calibrating).
  void SetFastNavPoll(bool on);

  // Identify answers, handed over by the dispatcher.
  void OnApplicationIdentify(uint8_t type, uint8_t options);
  void OnBootloaderIdentify(uint8_t version, uint8_t type);

  void SetStatusLine(const std::string& text);

  // The trouble seen since the last connection; None once a tracker answers.
  Trouble CurrentTrouble() const { return trouble_; }
  // The status-line reason of an open failure ("" when the port gave none).
  static std::string OpenErrorReason(const platform::OpenError& error, bool modem_manager);

 private:
  void SendPoll(uint8_t command, uint8_t kind);
  // Step 2 of the discovery tick: opens the port and sends the identify command.
  void ProbePort();
  bool probe_requested_ = false;
  // Lets a posted probe know that the discovery it belongs to is still there.
  std::shared_ptr<PortDiscovery*> self_ = std::make_shared<PortDiscovery*>(this);
  // Ticks until LinkTick has something to do.
  int TicksUntilLinkWork() const;
  // Link ticks due by `now`, at most those up to the next work.
  int64_t DueLinkTicks(int64_t now);
  int64_t link_grid_ms_ = 0;  // when the last tick that has run was due
  bool link_ticking_ = false;
  void ReportOpenFailure(const std::string& port, const platform::OpenError& error);
  void ReportSilentTracker(const std::string& port);
  std::string ModemManagerHint(const std::string& port) const;
  // Shows `text` on the message panel once per `key` until a tracker connects
  // or a device comes or goes.
  void HintOnce(const std::string& key, const std::string& text);

  app::MainWindow& w_;
  bool last_presence_ = false;
  std::string tracker_port_;  // the port of the tracker's USB device, when present
  Trouble trouble_ = Trouble::None;
  std::set<std::string> hinted_;
};

}  // namespace rlv::link
