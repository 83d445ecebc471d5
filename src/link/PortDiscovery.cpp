#include "link/PortDiscovery.h"

#include <initializer_list>

#include "app/MainWindow.h"
#include "link/PacketCodec.h"

namespace rlv::link {

namespace {
constexpr const char* kTrackerDeviceMark = "STMicro";
constexpr uint16_t kTrackerUsbVendor = 0x0483;
constexpr const char* kDefaultDeviceGroup = "dialout";
constexpr int kUsbPollTicks = 50;
constexpr int kTunnelPollTicks = 244;
const char* const kTrackerMenuEntries[] = {"MImage4", "MImage6", "MImage7", "MImage8", "MImage9"};

// Replaces each "%s" of `text` in turn with the next of `args`.
std::string Substitute(std::string text, std::initializer_list<std::string> args) {
  size_t at = 0;
  for (const std::string& arg : args) {
    at = text.find("%s", at);
    if (at == std::string::npos) break;
    text.replace(at, 2, arg);
    at += arg.size();
  }
  return text;
}

}  // namespace

bool PortDiscovery::IsTrackerDevice(const platform::UsbSerialDevice& device) {
  // The tracker presents the STMicro USB vendor; a device without a
  // manufacturer string is known by the vendor alone.
  return !device.port_name.empty() && (device.friendly_name.find(kTrackerDeviceMark) != std::string::npos ||
                                       device.vendor_id == kTrackerUsbVendor);
}

bool PortDiscovery::FindUsbPort() {
  bool found = false;
  for (const auto& device : w_.plat.devices->EnumerateSerialDevices()) {
    if (!IsTrackerDevice(device)) continue;
    // When several trackers are present the last one enumerated wins.
    w_.link.PortName = device.port_name;
    found = true;
  }
  tracker_port_ = found ? w_.link.PortName : std::string();
  return found;
}

void PortDiscovery::CheckDevicePresence() {
  w_.link.DevicePresent = FindUsbPort();
  if (w_.link.DevicePresent != last_presence_) {
    // A replugged device earns its hints again.
    hinted_.clear();
    if (w_.link.DevicePresent) {
      SetSearching(true);
    } else {
      ClosePortConnection();
    }
    last_presence_ = w_.link.DevicePresent;
  }
  // The probe runs once the event that asked for the check has been handled
  // (at start, after the search has been switched on).
  if (!probe_requested_) {
    probe_requested_ = true;
    w_.plat.loop->Post(0, [self = std::weak_ptr<PortDiscovery*>(self_)] {
      if (const auto alive = self.lock()) {
        (*alive)->probe_requested_ = false;
        (*alive)->ProbeNow();
      }
    });
  }
}

bool PortDiscovery::OpenPort(const std::string& name) {
  platform::ISerialPort& port = *w_.plat.serial;
  if (port.IsOpen()) port.Close();
  const bool opened = port.Open(name);
  w_.link.PortOpen = opened && port.IsOpen();
  return w_.link.PortOpen;
}

void PortDiscovery::ClosePort() {
  if (!w_.link.PortOpen) return;
  w_.link.PortOpen = false;
  w_.codec.DropReceived();
  w_.plat.serial->Close();
}

void PortDiscovery::SetSearching(bool on) {
  w_.link.Searching = on;
  w_.link.IdentifyPending = false;
}

void PortDiscovery::SelectNextPort() {
  LinkState& s = w_.link;
  SetStatusLine(s.PortName + ": Not connected");
  ui::Control& list = w_.controls["ENUMPORTS"];
  list.SetItems(w_.plat.devices->PortNames());
  if (!s.Searching) return;
  const int count = static_cast<int>(list.Items().size());
  if (s.PortCycleIndex >= count) s.PortCycleIndex = 0;
  if (count == 0) return;
  s.PortName = list.Items()[static_cast<size_t>(s.PortCycleIndex)];
  list.SetIndex(s.PortCycleIndex);
  ++s.PortCycleIndex;
}

std::string PortDiscovery::TypeDeviceToString(uint8_t type) {
  return type == 8 ? "RL20Vexa" : "unknow device";
}

bool PortDiscovery::TypeConnectedDevice(uint8_t type) {
  LinkState& s = w_.link;
  SetSearching(false);
  if (type != 8) return false;
  trouble_ = Trouble::None;
  hinted_.clear();
  ButtonEnabled(true);
  if (s.RemoteTunnelOpen) {
    SetStatusLine(s.RemotePeerAddress + ": " + TypeDeviceToString(type));
    s.RemoteIdentifyCountdown = 0;
  } else {
    SetStatusLine(s.PortName + ": " + TypeDeviceToString(type));
  }
  if (s.DevicePresent) {
    // A tracker that comes back in its application after an update ends the update.
    s.FlashInProgress = false;
    w_.firmware.CloseImageFile();
  }
  const bool can = (s.DeviceOptions & 0x01) != 0;
  w_.controls["PanelCAN"].SetVisible(can);
  w_.controls["PanelRS485"].SetVisible(!can);
  return true;
}

void PortDiscovery::OnApplicationIdentify(uint8_t type, uint8_t options) {
  LinkState& s = w_.link;
  s.DeviceType = type;
  s.DeviceOptions = options;
  if (TypeConnectedDevice(static_cast<uint8_t>(type & 0x0F))) {
    s.Connected = true;
    w_.shell.SelectPage(1);
  } else {
    ClosePortConnection();
    SelectNextPort();
  }
}

void PortDiscovery::OnBootloaderIdentify(uint8_t version, uint8_t type) {
  w_.firmware.Bootloader_version(version, type);
  w_.link.DeviceType = type;
  SetSearching(false);
  w_.link.BootloaderMode = true;
}

void PortDiscovery::ResetDevice(uint8_t mode) {
  w_.codec.SendPacket(4, &mode, 1);
  ClosePort();
  w_.link.Connected = false;
  w_.link.BootloaderMode = false;
  SetSearching(true);
}

void PortDiscovery::ClosePortConnection() {
  LinkState& s = w_.link;
  ClosePort();
  w_.transfer.ExchangeInterrupted();
  s.Connected = false;
  ClearStatusRecords();
  s.BootloaderMode = false;
  s.AnyHardware = false;
  SetSearching(true);
  s.DeviceType = 8;
  ButtonEnabled(false);
}

void PortDiscovery::ClearStatusRecords() {
  w_.monitoring.ClearRecords();
}

void PortDiscovery::ButtonEnabled(bool on) {
  for (const char* name : kTrackerMenuEntries) w_.controls[name].SetEnabled(on);
  w_.shell.SelectPage(on ? 1 : 0);
}

void PortDiscovery::SetStatusLine(const std::string& text) {
  w_.controls["ComPortDeviceCaption"].SetText(text);
}

std::string PortDiscovery::OpenErrorReason(const platform::OpenError& error, bool modem_manager) {
  using platform::OpenErrorKind;
  switch (error.kind) {
    case OpenErrorKind::None:
      return {};
    case OpenErrorKind::NotFound:
      return "no such device";
    case OpenErrorKind::NotATerminal:
      return "not a serial port";
    case OpenErrorKind::PermissionDenied:
      return "permission denied: install the udev rule or join the group " +
             (error.group.empty() ? std::string(kDefaultDeviceGroup) : error.group) + ", then replug";
    case OpenErrorKind::Busy:
      return modem_manager ? "busy: ModemManager may be holding it" : "busy: another program holds it";
    case OpenErrorKind::Other:
      break;
  }
  return error.text.empty() ? std::string("cannot open") : error.text;
}

void PortDiscovery::ReportOpenFailure(const std::string& port, const platform::OpenError& error) {
  using platform::OpenErrorKind;
  const bool busy = error.kind == OpenErrorKind::Busy;
  const bool modem_manager = busy && w_.plat.devices->ModemManagerRunning();
  const std::string reason = OpenErrorReason(error, modem_manager);
  // The port search goes on; the line says why this port did not open.
  if (!reason.empty()) SetStatusLine(port + ": Not connected (" + reason + ")");
  if (error.kind == OpenErrorKind::PermissionDenied) {
    trouble_ = Trouble::AccessDenied;
    const std::string group = error.group.empty() ? std::string(kDefaultDeviceGroup) : error.group;
    HintOnce(
        "denied " + port,
        Substitute(w_.messages.GetStringOr(
                       "PortAccess", "Denied",
                       "Нет доступа к порту %s. Установите правило udev из комплекта конфигуратора "
                       "(60-rlvexa.rules) или добавьте себя в группу %s (sudo usermod -aG %s $USER), "
                       "затем переподключите трекер или войдите в систему заново.//\\ No permission to "
                       "open %s. Install the udev rule that comes with the configurator (60-rlvexa.rules) "
                       "or join the group %s (sudo usermod -aG %s $USER), then replug the tracker or log "
                       "in again."),
                   {port, group, group}));
  } else if (modem_manager) {
    if (trouble_ != Trouble::AccessDenied) trouble_ = Trouble::PortHeld;
    HintOnce("held " + port, ModemManagerHint(port));
  }
}

void PortDiscovery::ReportSilentTracker(const std::string& port) {
  // A tracker that does not answer its identify while ModemManager runs is
  // most likely being probed with modem commands.
  if (port.empty() || port != tracker_port_ || !w_.link.DevicePresent) return;
  if (!w_.plat.devices->ModemManagerRunning()) return;
  SetStatusLine(port + ": Not connected (no answer: ModemManager may be holding it)");
  if (trouble_ != Trouble::AccessDenied) trouble_ = Trouble::PortHeld;
  HintOnce("held " + port, ModemManagerHint(port));
}

std::string PortDiscovery::ModemManagerHint(const std::string& port) const {
  return Substitute(
      w_.messages.GetStringOr(
          "PortAccess", "ModemManager",
          "Порт %s, возможно, занят службой ModemManager: она опрашивает новые порты AT-командами. "
          "Установите правило udev из комплекта конфигуратора (60-rlvexa.rules, оно задаёт "
          "ID_MM_DEVICE_IGNORE) или остановите службу (sudo systemctl stop ModemManager), затем "
          "переподключите трекер.//\\ ModemManager may be holding port %s: it probes every new port with "
          "AT commands. Install the udev rule that comes with the configurator (60-rlvexa.rules, it sets "
          "ID_MM_DEVICE_IGNORE) or stop the service (sudo systemctl stop ModemManager), then replug the "
          "tracker."),
      {port});
}

void PortDiscovery::HintOnce(const std::string& key, const std::string& text) {
  if (!hinted_.insert(key).second) return;
  w_.messages.MessageShow(text);
}

void PortDiscovery::SendPoll(uint8_t command, uint8_t kind) {
  w_.codec.SendPacket(command, &kind, 1);
}

void PortDiscovery::LinkTick() {
  LinkState& s = w_.link;
  if (s.GnssUpdateMode) return;
  if (s.RxQuiet > 0) {
    --s.RxQuiet;
    // A line that never falls quiet is scanned once a second all the same.
    if (++s.RxBusyTicks >= PacketCodec::kMaxBusyTicks) s.RxQuiet = 0;
    if (s.RxQuiet == 0) w_.codec.Receive_analyse();
  }
  if (!s.Connected) return;
  if (s.PollCountdown > 0) --s.PollCountdown;
  if (s.PollCountdown == 0) {
    if (s.RemoteModeActive && (s.RemoteOperationPending || s.FlashInProgress)) return;
    SendPoll(41, 1);
    SendPoll(34, 0);
    SendPoll(34, 1);
    s.PollCountdown = static_cast<uint8_t>(s.RemoteModeActive ? kTunnelPollTicks : kUsbPollTicks);
  }
  if (++s.TickCount >= 10) {
    s.TickCount = 0;
    if (s.FastNavPoll) SendPoll(34, 0);
  }
}

void PortDiscovery::StartLinkTicks() {
  link_grid_ms_ = w_.plat.clock->SteadyMs();
  link_ticking_ = true;
  ScheduleLinkTick();
}

void PortDiscovery::SetFastNavPoll(bool on) {
  CatchUpLinkTicks();
  w_.link.FastNavPoll = on;
  ScheduleLinkTick();
}

void PortDiscovery::StopLinkTicks() {
  link_ticking_ = false;
  if (w_.Timer1) w_.Timer1->Stop();
}

void PortDiscovery::OnLinkTimer() {
  const int64_t now = w_.plat.clock->SteadyMs();
  if (w_.link.RxQuiet > 0 || w_.link.GnssUpdateMode) {
    // While bytes arrive every firing is one tick, as on a timer that never
    // sleeps: a late firing must not use up the quiet gate at once while the
    // rest of an answer still waits in the event queue.
    LinkTick();
    link_grid_ms_ = now;
  } else {
    // A timer never fires early; a late one still runs the tick it was armed for.
    const int64_t due = std::max<int64_t>(1, DueLinkTicks(now));
    for (int64_t i = 0; i < due; ++i) LinkTick();
    link_grid_ms_ += due * kLinkTickMs;
  }
  ScheduleLinkTick();
}

int64_t PortDiscovery::DueLinkTicks(int64_t now) {
  const int64_t due = (now - link_grid_ms_) / kLinkTickMs;
  const int64_t work = TicksUntilLinkWork();
  if (due <= work) return due;
  // Ticks held back longer than the sleep they were armed for (a dialog was
  // open, the machine stalled) are not replayed: a minute's polls must not
  // leave at once. The ticks up to the next work still run.
  link_grid_ms_ += (due - work) * kLinkTickMs;
  return work;
}

void PortDiscovery::CatchUpLinkTicks() {
  if (!link_ticking_) return;
  const int64_t due = DueLinkTicks(w_.plat.clock->SteadyMs());
  for (int64_t i = 0; i < due; ++i) LinkTick();
  if (due > 0) link_grid_ms_ += due * kLinkTickMs;
}

int PortDiscovery::TicksUntilLinkWork() const {
  const LinkState& s = w_.link;
  if (s.RxQuiet > 0 || s.GnssUpdateMode) return 1;
  int ticks = kMaxSleepTicks;
  if (s.Connected) {
    ticks = std::min<int>(ticks, std::max<int>(1, s.PollCountdown));
    if (s.FastNavPoll) ticks = std::min(ticks, 10 - s.TickCount % 10);
  }
  return std::max(1, ticks);
}

void PortDiscovery::ScheduleLinkTick() {
  if (!w_.Timer1 || !link_ticking_) return;
  const int64_t next = link_grid_ms_ + int64_t{TicksUntilLinkWork()} * kLinkTickMs;
  const int64_t wait = std::max<int64_t>(1, next - w_.plat.clock->SteadyMs());
  platform::ITimer& timer = *w_.Timer1;
  timer.Stop();
  timer.SetInterval(static_cast<int>(wait));
  timer.Start();
}

void PortDiscovery::ProbePort() {
  LinkState& s = w_.link;
  SetStatusLine(s.PortName + ": Find device");
  if (OpenPort(s.PortName)) {
    w_.codec.SendPacket(0, nullptr, 0);
    s.IdentifyPending = true;
  } else {
    const std::string failed = s.PortName;
    const platform::OpenError error = w_.plat.serial->LastOpenError();
    s.AutoReadConfig = false;
    ClosePort();
    SelectNextPort();
    ReportOpenFailure(failed, error);
  }
  s.FwQueryDone = false;
}

void PortDiscovery::ProbeNow() {
  const LinkState& s = w_.link;
  if (!s.Searching || s.GnssUpdateMode || !w_.Find_device || !w_.Find_device->IsActive()) return;
  // A port just probed, or one that just came, gets a whole period to answer.
  w_.Find_device->Stop();
  w_.Find_device->Start();
  ProbePort();
}

void PortDiscovery::DiscoveryTick() {
  LinkState& s = w_.link;
  if (s.IdentifyPending) {
    const std::string silent = s.PortName;
    s.IdentifyPending = false;
    s.Connected = false;
    s.AutoReadConfig = false;
    SelectNextPort();
    ReportSilentTracker(silent);
  }
  if (s.Searching) ProbePort();
  if (s.RemoteIdentifyCountdown > 0) {
    if (--s.RemoteIdentifyCountdown == 0) {
      w_.codec.SendPacket(0, nullptr, 0);
      s.RemoteIdentifyCountdown = 3;
    }
  }
  w_.remote.SecondTick();
  if (s.RemoteStopRequested) {
    s.RemoteStopRequested = false;
    w_.remote.StopConfigServer();
  }
  if (s.FlashTimeout > 0 && s.FlashInProgress) {
    if (--s.FlashTimeout == 0) {
      w_.messages.MessageShow(w_.messages.GetMessageA(23));
      s.FlashInProgress = false;
      s.RemoteOperationPending = false;
    }
  }
}

}  // namespace rlv::link
