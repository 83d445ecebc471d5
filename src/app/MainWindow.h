#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Version.h"
#include "app/EventGate.h"
#include "app/Options.h"
#include "bundle/Bundle.h"
#include "config/Bluetooth.h"
#include "config/Configuration.h"
#include "config/History.h"
#include "config/Review.h"
#include "config/Settings.h"
#include "config/Transfer.h"
#include "firmware/Firmware.h"
#include "link/LinkState.h"
#include "link/PacketCodec.h"
#include "link/PortDiscovery.h"
#include "monitor/Monitoring.h"
#include "net/CloudStore.h"
#include "net/RemoteConfig.h"
#include "net/UpdateService.h"
#include "platform/Platform.h"
#include "protocol/Dispatcher.h"
#include "protocol/FaultLog.h"
#include "ui/Controls.h"
#include "ui/HelpEditor.h"
#include "ui/Language.h"
#include "ui/Messages.h"
#include "ui/Shell.h"
#include "vehicle/Vehicle.h"

namespace rlv::app {

// The main window object: owns the controls, the program-wide state, every
// subsystem and the timers, and wires platform events to the subsystems.
class MainWindow {
 public:
  // The configurator's own version, set in the build.
  static constexpr const char* kVersionText = RLVEXA_VERSION;

  MainWindow(platform::Platform& platform, Options options);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Window life: created, first shown, closed by the user, destroyed.
  void FormCreate();
  void FormShow();
  // The start-up steps that change nothing the first frame shows: a window runs
  // them once it has been painted, a front end without one right after FormShow.
  void AfterFirstPaint();
  void FormClose();
  void FormDestroy();
  bool Closed() const { return closed_; }

  // Platform events.
  void OnDeviceChange(platform::DeviceEvent event);
  void OnHotKey(int id);
  void Timer1Timer();
  void Find_deviceTimer();

  // A problem the user must learn of that no operation of theirs reports:
  // shown on the message panel and written to standard error.
  void ReportProblem(const std::string& text);

  // A file in the data folder (the folder that stands for "beside the executable").
  std::string DataPath(const std::string& file) const;
  // A relative path names a file of the data folder; an absolute one stays.
  std::string ResolveDataPath(const std::string& path) const;
  // The platform's file service, the standard one when the platform names none.
  platform::IFiles& Files() const;
  // A timer whose handler runs through the event gate (null without timers).
  std::unique_ptr<platform::ITimer> CreateTimer(std::function<void()> handler);

  platform::Platform& plat;
  const Options options;
  ui::ControlModel controls;
  link::LinkState link;
  // Every timer tick and every read of the port and the tunnel runs through it.
  EventGate gate;

  link::PacketCodec codec;
  link::PortDiscovery discovery;
  protocol::Dispatcher dispatcher;
  ui::Messages messages;
  ui::Shell shell;
  ui::HelpEditor help_editor;
  config::Configuration config;
  config::WindowSettings settings;
  config::Transfer transfer;
  monitor::Monitoring monitoring;
  protocol::FaultLog faultlog;
  firmware::Firmware firmware;
  net::RemoteConfig remote;
  vehicle::Vehicle vehicle;
  net::CloudStore cloud;
  net::UpdateService updates;
  config::WriteReview review;
  config::ConfigHistory history;
  bundle::DiagnosticBundle diagnostics;
  config::Bluetooth bluetooth;
  ui::Language language;

  std::unique_ptr<platform::ITimer> Timer1;       // 10 ms link tick
  std::unique_ptr<platform::ITimer> Find_device;  // 1 s discovery tick

 private:
  bool created_ = false;
  bool closed_ = false;
  bool after_first_paint_ = false;
  bool destroyed_ = false;
  // Bytes the port announced while the gate held their read back.
  int rx_count_ = 0;
  EventGate::StepId rx_step_ = 0;
  EventGate::StepId device_step_ = 0;
};

}  // namespace rlv::app
