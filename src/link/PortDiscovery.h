#pragma once

#include <cstdint>
#include <string>

namespace rlv::app {
class MainWindow;
}

namespace rlv::link {

// Finds the tracker's port, probes ports with the identify command, keeps the
// connection alive with the status polls and tears it down when it is lost.
class PortDiscovery {
 public:
  explicit PortDiscovery(app::MainWindow& w) : w_(w) {}

  bool FindUsbPort();
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

  // Identify answers, handed over by the dispatcher.
  void OnApplicationIdentify(uint8_t type, uint8_t options);
  void OnBootloaderIdentify(uint8_t version, uint8_t type);

  void SetStatusLine(const std::string& text);

 private:
  void SendPoll(uint8_t command, uint8_t kind);

  app::MainWindow& w_;
  bool last_presence_ = false;
};

}  // namespace rlv::link
