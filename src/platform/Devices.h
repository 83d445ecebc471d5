#pragma once

#include <functional>
#include <string>
#include <vector>

namespace rlv::platform {

// A present device of the serial-port class: its friendly name (on Linux the
// USB manufacturer and product strings) and the name that opens it.
struct UsbSerialDevice {
  std::string friendly_name;
  std::string port_name;
};

enum class DeviceEvent { Arrival, RemoveComplete, Other };

class IDevices {
 public:
  virtual ~IDevices() = default;
  // Present serial-class devices in the platform's order.
  virtual std::vector<UsbSerialDevice> EnumerateSerialDevices() = 0;
  // The system's serial-port names in the platform's order; every port that the
  // enumeration reports is among them.
  virtual std::vector<std::string> PortNames() = 0;
  // Device arrival and removal notification, delivered on the event-loop thread
  // between StartNotifications() and StopNotifications().
  virtual void SetChangeHandler(std::function<void(DeviceEvent)> handler) = 0;
  virtual bool StartNotifications() = 0;
  virtual void StopNotifications() = 0;
};

}  // namespace rlv::platform
