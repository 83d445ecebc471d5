#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rlv::platform {

// A present device of the serial-port class: its friendly name (on Linux the
// USB manufacturer and product strings), the name that opens it and its USB
// vendor (0 when unknown or not a USB device).
struct UsbSerialDevice {
  std::string friendly_name;
  std::string port_name;
  uint16_t vendor_id = 0;
};

enum class DeviceEvent { Arrival, RemoveComplete, Other };

class IDevices {
 public:
  virtual ~IDevices() = default;
  // Present serial-class devices in the platform's order.
  virtual std::vector<UsbSerialDevice> EnumerateSerialDevices() = 0;
  // The serial-port names worth probing, in the platform's order: every port
  // that the enumeration reports, and the ports named by the user. Legacy
  // on-board ports that every PC lists, mostly without hardware, are left out
  // unless named.
  virtual std::vector<std::string> PortNames() = 0;
  // A port the user named (in the settings or on the command line): listed by
  // PortNames() whenever the system has it.
  virtual void NamePort(const std::string& name) = 0;
  // Whether a modem manager that probes new serial ports runs on the system.
  virtual bool ModemManagerRunning() = 0;
  // Device arrival and removal notification, delivered on the event-loop thread
  // between StartNotifications() and StopNotifications().
  virtual void SetChangeHandler(std::function<void(DeviceEvent)> handler) = 0;
  virtual bool StartNotifications() = 0;
  virtual void StopNotifications() = 0;
};

}  // namespace rlv::platform
