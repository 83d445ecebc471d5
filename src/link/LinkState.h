#pragma once

#include <cstdint>
#include <string>

namespace rlv::link {

// Program-wide link variables, read by every subsystem.
struct LinkState {
  bool DevicePresent = false;
  std::string PortName = "COM1";
  bool PortOpen = false;
  bool Searching = false;
  bool IdentifyPending = false;
  bool Connected = false;
  bool BootloaderMode = false;
  bool AnyHardware = false;
  uint8_t DeviceType = 8;
  uint8_t DeviceOptions = 0;
  int PortCycleIndex = 0;
  uint8_t RxQuiet = 0;
  // Bytes announced since the last scan, and link ticks since the first of them.
  uint32_t RxPending = 0;
  uint16_t RxBusyTicks = 0;
  // The fast link: complete frames with a valid checksum are handed over as
  // they arrive instead of after the quiet gate.
  bool FastLink = false;
  uint8_t PollCountdown = 0;
  uint8_t TickCount = 0;
  bool FastNavPoll = false;
  bool AutoReadConfig = true;
  bool FwQueryDone = false;
  // Remote tunnel through the tracker's GPRS link.
  bool RemoteTunnelOpen = false;
  bool RemoteModeActive = false;
  bool RemoteOperationPending = false;
  int RemoteIdentifyCountdown = 0;
  bool RemoteStopRequested = false;
  std::string RemotePeerAddress;
  // Firmware update.
  bool FlashInProgress = false;
  uint8_t FlashTimeout = 0;
  uint32_t FlashBytesSent = 0;
  bool GnssUpdateMode = false;
};

}  // namespace rlv::link
