// The common part of the device listing; the system's side is in
// QtDevicesUdev.cpp or QtDevicesPortable.cpp.
#include "QtDevices.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
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
  for (const auto& device : DeclaredPresent()) {
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
  for (const auto& device : DeclaredPresent()) {
    if (std::find(names.begin(), names.end(), device.port_name) == names.end())
      names.push_back(device.port_name);
  }
  return names;
}

void QtDevices::Notify(platform::DeviceEvent event) {
  if (handler_) handler_(event);
}

namespace {
// A declared port given by its path (not "DEMO", not "COM3").
bool IsPath(const std::string& name) {
  return !name.empty() && name.front() == '/';
}
}  // namespace

std::vector<platform::UsbSerialDevice> QtDevices::DeclaredPresent() const {
  std::vector<platform::UsbSerialDevice> present;
  for (const auto& device : extra_) {
    if (!IsPath(device.port_name) || QFileInfo::exists(QString::fromStdString(device.port_name)))
      present.push_back(device);
  }
  return present;
}

void QtDevices::OnDeclaredFolderChanged() {
  bool arrived = false;
  bool removed = false;
  for (size_t i = 0; i < extra_.size() && i < declared_present_.size(); ++i) {
    if (!IsPath(extra_[i].port_name)) continue;
    const bool now = QFileInfo::exists(QString::fromStdString(extra_[i].port_name));
    arrived = arrived || (now && !declared_present_[i]);
    removed = removed || (!now && declared_present_[i]);
    declared_present_[i] = now;
  }
  if (removed) Notify(platform::DeviceEvent::RemoveComplete);
  if (arrived) Notify(platform::DeviceEvent::Arrival);
}

void QtDevices::WatchDeclaredPorts() {
  declared_present_.assign(extra_.size(), false);
  QStringList folders;
  for (size_t i = 0; i < extra_.size(); ++i) {
    const QString path = QString::fromStdString(extra_[i].port_name);
    if (!IsPath(extra_[i].port_name)) continue;
    declared_present_[i] = QFileInfo::exists(path);
    const QString folder = QFileInfo(path).absolutePath();
    if (!folders.contains(folder) && QFileInfo(folder).isDir()) folders << folder;
  }
  if (folders.isEmpty()) return;
  declared_watch_ = new QFileSystemWatcher(folders, &context_);
  QObject::connect(declared_watch_, &QFileSystemWatcher::directoryChanged, &context_,
                   [this] { OnDeclaredFolderChanged(); });
}

void QtDevices::UnwatchDeclaredPorts() {
  if (declared_watch_ == nullptr) return;
  declared_watch_->deleteLater();
  declared_watch_ = nullptr;
}
}  // namespace rlv::qtp
