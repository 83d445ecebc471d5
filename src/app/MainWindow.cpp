#include "app/MainWindow.h"

#include <climits>
#include <filesystem>
#include <iostream>

#include "config/ConfigControls.h"
#include "platform/Paths.h"
#include "ui/MainControls.h"

namespace rlv::app {

namespace {
constexpr int kHotKeyAltE = 125;
constexpr int kHotKeyAltH = 126;
constexpr int kHotKeyAltS = 127;
}  // namespace

MainWindow::MainWindow(platform::Platform& platform, Options opts)
    : plat(platform),
      options(std::move(opts)),
      codec(*this),
      discovery(*this),
      dispatcher(*this),
      messages(*this),
      shell(*this),
      help_editor(*this),
      config(*this),
      settings(*this),
      transfer(*this),
      monitoring(*this),
      faultlog(*this),
      firmware(*this),
      remote(*this),
      vehicle(*this),
      cloud(*this),
      updates(*this),
      review(*this),
      history(*this),
      diagnostics(*this),
      bluetooth(*this),
      language(*this) {
  link.FastLink = options.fast_link;
  ui::DeclareMainControls(controls);
  monitor::Monitoring::DeclareControls(controls);
  protocol::FaultLog::DeclareControls(controls);
  config::Transfer::DeclareControls(controls);
  config::DeclareConfigControls(controls);
  config.BindControls();
  firmware::Firmware::DeclareControls(controls);
  firmware.BindHandlers();
  net::RemoteConfig::DeclareControls(controls);
  remote.BindHandlers();
  controls.On("OKMES", ui::Event::Click, [this](const ui::EventArgs&) { messages.OKMESClick(); });
  // The help editor is created after the main window, hidden.
  ui::HelpEditor::DeclareControls(controls);
  shell.BindHandlers();
  monitoring.BindHandlers();
  faultlog.BindHandlers();
  help_editor.BindHandlers();
  vehicle::Vehicle::DeclareControls(controls);
  vehicle.BindHandlers();
  // The cloud page and the update service's offer and news panels.
  net::CloudStore::DeclareControls(controls);
  net::UpdateService::DeclareControls(controls);
  cloud.BindHandlers();
  updates.BindHandlers();

  Timer1 = CreateTimer([this] { Timer1Timer(); });
  Timer1->SetInterval(10);
  Find_device = CreateTimer([this] { Find_deviceTimer(); });
  Find_device->SetInterval(1000);
  rx_step_ = gate.Add([this] {
    const int count = rx_count_;
    rx_count_ = 0;
    codec.ComPortRxChar(count);
  });
  device_step_ = gate.Add([this] { discovery.CheckDevicePresence(); });

  // The help line of every control that explains itself.
  shell.BindHelpLine();
  config::ConfigHistory::DeclareControls(controls);
  history.BindHandlers();
  bundle::DiagnosticBundle::DeclareControls(controls);
  diagnostics.BindHandlers();
  config::Bluetooth::DeclareControls(controls);
  bluetooth.BindHandlers();
  controls.On("LangImage", ui::Event::Click, [this](const ui::EventArgs&) { language.LangImageClick(); });
}

MainWindow::~MainWindow() {
  if (Timer1) Timer1->Stop();
  if (Find_device) Find_device->Stop();
  plat.serial->SetReceivedHandler(nullptr);
  plat.devices->SetChangeHandler(nullptr);
  plat.hotkeys->SetHandler(nullptr);
  if (!destroyed_) FormDestroy();
}

void MainWindow::FormCreate() {
  if (created_) return;
  created_ = true;
  config.LocalizeDesignedDecimals();
  plat.serial->SetReceivedHandler([this](int count) {
    if (count > 0) rx_count_ = count < INT_MAX - rx_count_ ? rx_count_ + count : INT_MAX;
    gate.Run(rx_step_);
  });
  plat.devices->SetChangeHandler([this](platform::DeviceEvent event) { OnDeviceChange(event); });
  plat.devices->StartNotifications();
  plat.hotkeys->SetHandler([this](int id) { OnHotKey(id); });
  plat.hotkeys->Register(kHotKeyAltE, platform::kModAlt, 'E');
  plat.hotkeys->Register(kHotKeyAltH, platform::kModAlt, 'H');
  plat.hotkeys->Register(kHotKeyAltS, platform::kModAlt, 'S');
  discovery.StartLinkTicks();
  Find_device->Start();
}

void MainWindow::FormShow() {
  shell.PlaceOverlayPanels();
  settings.ReadFormSettings();
  // The port of the settings is probed even when the system would leave it out.
  plat.devices->NamePort(link.PortName);
  shell.LoadMenuImages();
  shell.SetGridHeadings();
  // The window's texts, the monitoring texts and the structure tree's nodes
  // come from the language file.
  language.SetLanguage(messages.LanguageName, true);
  transfer.OpenLastConfiguration();
  discovery.ButtonEnabled(false);
}

void MainWindow::AfterFirstPaint() {
  if (closed_ || after_first_paint_) return;
  after_first_paint_ = true;
  // Looking for the tracker's port enumerates the system's serial ports; what
  // it finds is shown only once the tracker answers.
  discovery.CheckDevicePresence();
  discovery.SetSearching(true);
  updates.GetConfiguratorVersionFromServer();
  // The catalogue fills the vehicle page's list, which is not shown at start.
  vehicle.LoadJ1939Struct();
  shell.PlaceNewsPanel();
}

void MainWindow::FormClose() {
  if (closed_) return;
  closed_ = true;
  discovery.ClosePort();
  if (!settings.SaveFormSettings()) ReportProblem(settings.LastError);
  plat.devices->StopNotifications();
  discovery.StopLinkTicks();
  Find_device->Stop();
}

void MainWindow::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  plat.hotkeys->Unregister(kHotKeyAltE);
  plat.hotkeys->Unregister(kHotKeyAltH);
  plat.hotkeys->Unregister(kHotKeyAltS);
}

void MainWindow::OnDeviceChange(platform::DeviceEvent event) {
  if (event == platform::DeviceEvent::Arrival || event == platform::DeviceEvent::RemoveComplete) {
    gate.Run(device_step_);
  }
}

void MainWindow::OnHotKey(int id) {
  // Alt+H opens the help editor for the control under the mouse; Alt+E and
  // Alt+S are held without an action.
  if (id == kHotKeyAltH) help_editor.ShowModal();
}

void MainWindow::ReportProblem(const std::string& text) {
  std::cerr << text << '\n';
  messages.MessageShow(text);
}

std::string MainWindow::ResolveDataPath(const std::string& path) const {
  if (path.empty() || !platform::IsRelativePath(path)) return path;
  return DataPath(path);
}

std::unique_ptr<platform::ITimer> MainWindow::CreateTimer(std::function<void()> handler) {
  if (plat.timers == nullptr) return nullptr;
  std::unique_ptr<platform::ITimer> timer = plat.timers->CreateTimer();
  const EventGate::StepId step = gate.Add(std::move(handler));
  timer->SetHandler([this, step] { gate.Run(step); });
  return timer;
}

platform::IFiles& MainWindow::Files() const {
  return plat.files != nullptr ? *plat.files : platform::DefaultFiles();
}

std::string MainWindow::DataPath(const std::string& file) const {
  return platform::JoinPath(options.data_dir, file);
}

void MainWindow::Timer1Timer() {
  discovery.OnLinkTimer();
}

void MainWindow::Find_deviceTimer() {
  discovery.DiscoveryTick();
  // The store's reconnections and download retry, then the update service's
  // retry and countdowns.
  cloud.Tick();
  updates.Tick();
  bluetooth.Tick();
}

}  // namespace rlv::app
