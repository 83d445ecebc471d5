// The system's serial ports through Qt alone (Windows, macOS, Linux without
// udev): listed by QSerialPortInfo, watched by comparing the list once a second.
#include <QSerialPortInfo>
#include <QTimer>
#include <algorithm>

#include "QtDevices.h"
#include "platform/Paths.h"

namespace rlv::qtp {

namespace {

// The name that opens a port listed by QSerialPortInfo: "COM3" on Windows
// (the device form "\\.\COM3" is Qt's business), the device path elsewhere.
std::string PortNameOf(const QSerialPortInfo& info) {
#ifdef _WIN32
  return platform::WindowsPortName(info.portName().toStdString());
#else
  return info.systemLocation().toStdString();
#endif
}

std::vector<std::string> ListedNames() {
  std::vector<std::string> names;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) names.push_back(PortNameOf(info));
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

struct QtDevices::Watch {
  QTimer poll;  // the period of the discovery tick
  std::vector<std::string> last;
  bool running = false;
};

QtDevices::QtDevices(std::vector<platform::UsbSerialDevice> extra)
    : watch_(std::make_unique<Watch>()), extra_(std::move(extra)) {
  watch_->poll.setInterval(1000);
  QObject::connect(&watch_->poll, &QTimer::timeout, &context_, [this] {
    std::vector<std::string> now = ListedNames();
    if (now == watch_->last) return;
    bool arrived = false, removed = false;
    for (const auto& name : now)
      arrived = arrived || !std::binary_search(watch_->last.begin(), watch_->last.end(), name);
    for (const auto& name : watch_->last)
      removed = removed || !std::binary_search(now.begin(), now.end(), name);
    watch_->last = std::move(now);
    cache_valid_ = false;
    // The handler may stop the notifications.
    if (removed) Notify(platform::DeviceEvent::RemoveComplete);
    if (arrived && watch_->running) Notify(platform::DeviceEvent::Arrival);
  });
}

QtDevices::~QtDevices() {
  StopNotifications();
}

bool QtDevices::CacheCurrent() const {
  // Kept while the poll watches the list; listed anew on every call otherwise.
  return watch_->running;
}

std::vector<QtDevices::Listed> QtDevices::ListSystemPorts() {
  std::vector<Listed> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    Listed port;
    port.device.port_name = PortNameOf(info);
    if (port.device.port_name.empty()) continue;
    port.short_name = info.portName().toStdString();
    // A USB device backs the port: offered to the search. Others (the
    // on-board ports every PC lists) only when named.
    port.usb = info.hasVendorIdentifier();
    if (port.usb) port.device.vendor_id = info.vendorIdentifier();
    std::string description = info.description().trimmed().toStdString();
    if (description.empty()) description = info.manufacturer().trimmed().toStdString();
    port.device.friendly_name =
        description.empty() ? port.short_name : description + " (" + port.short_name + ")";
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(), [](const Listed& a, const Listed& b) {
    return platform::PortNameLess(a.short_name, b.short_name);
  });
  return ports;
}

bool QtDevices::ModemManagerRunning() {
  return false;  // no modem manager probes serial ports outside Linux
}

bool QtDevices::StartNotifications() {
  if (declared_watch_ == nullptr) WatchDeclaredPorts();
  watch_->last = ListedNames();
  cache_valid_ = false;
  watch_->running = true;
  watch_->poll.start();
  return true;
}

void QtDevices::StopNotifications() {
  UnwatchDeclaredPorts();
  watch_->running = false;
  watch_->poll.stop();
}

}  // namespace rlv::qtp
