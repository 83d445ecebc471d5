#include "link/PortDiscovery.h"

#include "app/MainWindow.h"

namespace rlv::link {

namespace {
constexpr const char* kTrackerDeviceMark = "STMicro";
constexpr int kUsbPollTicks = 50;
constexpr int kTunnelPollTicks = 244;
const char* const kTrackerMenuEntries[] = {"MImage4", "MImage6", "MImage7", "MImage8", "MImage9"};
}  // namespace

bool PortDiscovery::FindUsbPort() {
  bool found = false;
  for (const auto& device : w_.plat.devices->EnumerateSerialDevices()) {
    if (device.friendly_name.find(kTrackerDeviceMark) == std::string::npos) continue;
    if (device.port_name.empty()) continue;
    // When several trackers are present the last one enumerated wins.
    w_.link.PortName = device.port_name;
    found = true;
  }
  return found;
}

void PortDiscovery::CheckDevicePresence() {
  w_.link.DevicePresent = FindUsbPort();
  if (w_.link.DevicePresent != last_presence_) {
    if (w_.link.DevicePresent) {
      SetSearching(true);
    } else {
      ClosePortConnection();
    }
    last_presence_ = w_.link.DevicePresent;
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

void PortDiscovery::SendPoll(uint8_t command, uint8_t kind) {
  w_.codec.SendPacket(command, &kind, 1);
}

void PortDiscovery::LinkTick() {
  LinkState& s = w_.link;
  if (s.GnssUpdateMode) return;
  if (s.RxQuiet > 0) {
    --s.RxQuiet;
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

void PortDiscovery::DiscoveryTick() {
  LinkState& s = w_.link;
  if (s.IdentifyPending) {
    s.IdentifyPending = false;
    s.Connected = false;
    s.AutoReadConfig = false;
    SelectNextPort();
  }
  if (s.Searching) {
    SetStatusLine(s.PortName + ": Find device");
    if (OpenPort(s.PortName)) {
      w_.codec.SendPacket(0, nullptr, 0);
      s.IdentifyPending = true;
    } else {
      s.AutoReadConfig = false;
      ClosePort();
      SelectNextPort();
    }
    s.FwQueryDone = false;
  }
  if (s.RemoteIdentifyCountdown > 0) {
    if (--s.RemoteIdentifyCountdown == 0) {
      w_.codec.SendPacket(0, nullptr, 0);
      s.RemoteIdentifyCountdown = 3;
    }
  }
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
