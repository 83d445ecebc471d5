// The common part of the device listing; the system's side is in
// QtDevicesUdev.cpp or QtDevicesPortable.cpp.
#include "QtDevices.h"

#include <algorithm>

namespace rlv::qtp {

std::string QtDevices::TrackerFriendlyName(const std::string& label) {
  return "STMicroelectronics Virtual COM Port (" + label + ")";
}

const std::vector<QtDevices::Listed>& QtDevices::SystemPorts() {
  if (cache_valid_ && CacheCurrent()) return cache_;
  cache_ = ListSystemPorts();
  cache_valid_ = true;
  return cache_;
}

bool QtDevices::Named(const Listed& port) const {
  return std::any_of(named_.begin(), named_.end(), [&](const std::string& name) {
    return name == port.device.port_name || name == port.short_name;
  });
}

void QtDevices::NamePort(const std::string& name) {
  if (!name.empty() && std::find(named_.begin(), named_.end(), name) == named_.end()) named_.push_back(name);
}

std::vector<platform::UsbSerialDevice> QtDevices::EnumerateSerialDevices() {
  std::vector<platform::UsbSerialDevice> devices;
  for (const Listed& port : SystemPorts()) {
    if (port.usb) devices.push_back(port.device);
  }
  for (const auto& device : extra_) {
    // A declared port that the system lists too appears once, as declared.
    std::erase_if(devices, [&](const auto& d) { return d.port_name == device.port_name; });
    devices.push_back(device);
  }
  return devices;
}

std::vector<std::string> QtDevices::PortNames() {
  std::vector<std::string> names;
  for (const Listed& port : SystemPorts()) {
    // The legacy on-board ports every PC lists are probed only when named.
    if (port.usb || Named(port)) names.push_back(port.device.port_name);
  }
  for (const auto& device : extra_) {
    if (std::find(names.begin(), names.end(), device.port_name) == names.end())
      names.push_back(device.port_name);
  }
  return names;
}

void QtDevices::Notify(platform::DeviceEvent event) {
  if (handler_) handler_(event);
}

}  // namespace rlv::qtp
