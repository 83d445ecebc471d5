#include "QtDevices.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>
#include <cstdio>

#ifndef _WIN32
#include <libudev.h>

#include <QSocketNotifier>
#include <filesystem>
#include <fstream>
#include <system_error>
#endif

namespace rlv::qtp {

namespace {

[[maybe_unused]] std::string Trimmed(std::string s) {
  const auto not_space = [](unsigned char c) { return c > ' '; };
  s.erase(s.begin(), std::find_if(s.begin(), s.end(), not_space));
  s.erase(std::find_if(s.rbegin(), s.rend(), not_space).base(), s.end());
  return s;
}

// The name that opens a port listed by QSerialPortInfo.
std::string PortNameOf(const QSerialPortInfo& info) {
#ifdef _WIN32
  return info.portName().toStdString();
#else
  return info.systemLocation().toStdString();
#endif
}

}  // namespace

#ifndef _WIN32
namespace {

std::string ReadSysfsString(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  std::string text;
  std::getline(in, text);
  return Trimmed(text);
}

}  // namespace

std::string UsbFriendlyNameFromSysfs(const std::string& tty_name, const std::string& sys_root) {
  namespace fs = std::filesystem;
  if (tty_name.empty() || tty_name.find('/') != std::string::npos || tty_name == "." || tty_name == "..")
    return {};
  std::error_code ec;
  const fs::path root = fs::weakly_canonical(fs::path(sys_root), ec);
  if (ec) return {};
  fs::path dir = fs::canonical(fs::path(sys_root) / "class" / "tty" / tty_name / "device", ec);
  if (ec) return {};
  // Walk up from the interface to the USB device, which holds idVendor.
  for (int depth = 0; depth < 16 && !dir.empty(); ++depth) {
    if (fs::exists(dir / "idVendor", ec)) {
      const std::string manufacturer = ReadSysfsString(dir / "manufacturer");
      const std::string product = ReadSysfsString(dir / "product");
      if (manufacturer.empty()) return product;
      if (product.empty()) return manufacturer;
      return manufacturer + " " + product;
    }
    if (dir == root || dir == dir.root_path()) break;
    dir = dir.parent_path();
  }
  return {};
}

bool ModemManagerInProcessTable(const std::string& proc_root) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (fs::directory_iterator it(proc_root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string pid = it->path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    if (ReadSysfsString(it->path() / "comm") == "ModemManager") return true;
  }
  return false;
}
#endif

QtDevices::QtDevices(std::vector<platform::UsbSerialDevice> extra) : extra_(std::move(extra)) {
#ifdef _WIN32
  poll_timer_.setInterval(1000);
  QObject::connect(&poll_timer_, &QTimer::timeout, &context_, [this] { Poll(); });
#endif
}

QtDevices::~QtDevices() {
  StopNotifications();
}

std::string QtDevices::TrackerFriendlyName(const std::string& label) {
  return "STMicroelectronics Virtual COM Port (" + label + ")";
}

const std::vector<QtDevices::Listed>& QtDevices::SystemPorts() {
#ifndef _WIN32
  // Listing walks the udev database and sysfs: done again only when the
  // monitor saw a tty come or go, or when no monitor runs.
  if (cache_valid_ && monitor_ != nullptr) return cache_;
#endif
  cache_.clear();
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    Listed port;
    port.device.port_name = PortNameOf(info);
    if (port.device.port_name.empty()) continue;
    port.short_name = info.portName().toStdString();
    if (info.hasVendorIdentifier()) port.device.vendor_id = info.vendorIdentifier();
#ifdef _WIN32
    port.usb = true;  // every COM port the system lists is offered
    port.device.friendly_name = info.description().toStdString() + " (" + port.short_name + ")";
#else
    port.usb = info.hasVendorIdentifier() || port.short_name.rfind("ttyACM", 0) == 0 ||
               port.short_name.rfind("ttyUSB", 0) == 0;
    if (port.usb) port.device.friendly_name = UsbFriendlyNameFromSysfs(port.short_name);
    if (port.device.friendly_name.empty())
      port.device.friendly_name = Trimmed(info.description().toStdString());
    if (port.device.friendly_name.empty()) port.device.friendly_name = port.short_name;
#endif
    cache_.push_back(std::move(port));
  }
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

bool QtDevices::ModemManagerRunning() {
#ifdef _WIN32
  return false;
#else
  return ModemManagerInProcessTable();
#endif
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

#ifdef _WIN32

bool QtDevices::StartNotifications() {
  if (declared_watch_ == nullptr) WatchDeclaredPorts();
  last_ports_.clear();
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
    last_ports_.push_back(info.portName().toStdString());
  poll_timer_.start();
  return true;
}

void QtDevices::StopNotifications() {
  UnwatchDeclaredPorts();
  poll_timer_.stop();
}

void QtDevices::Poll() {
  std::vector<std::string> now;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
    now.push_back(info.portName().toStdString());
  const auto contains = [](const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  bool arrived = false;
  bool removed = false;
  for (const auto& name : now) arrived = arrived || !contains(last_ports_, name);
  for (const auto& name : last_ports_) removed = removed || !contains(now, name);
  last_ports_ = std::move(now);
  if (removed) Notify(platform::DeviceEvent::RemoveComplete);
  if (arrived) Notify(platform::DeviceEvent::Arrival);
}

#else

bool QtDevices::StartNotifications() {
  if (declared_watch_ == nullptr) WatchDeclaredPorts();
  if (monitor_ != nullptr) return true;
  cache_valid_ = false;
  udev_ = udev_new();
  if (udev_ == nullptr) {
    std::fprintf(stderr, "device notifications unavailable: udev_new failed\n");
    return false;
  }
  // Events processed by the udev daemon when it runs (the device node exists
  // by then), otherwise the kernel's own.
  std::error_code ec;
  const char* source = std::filesystem::exists("/run/udev/control", ec) ? "udev" : "kernel";
  monitor_ = udev_monitor_new_from_netlink(udev_, source);
  if (monitor_ == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    std::fprintf(stderr, "device notifications unavailable: no %s monitor\n", source);
    CloseMonitor();
    return false;
  }
  const int fd = udev_monitor_get_fd(monitor_);
  if (fd < 0) {
    CloseMonitor();
    return false;
  }
  notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, &context_);
  QObject::connect(notifier_, &QSocketNotifier::activated, &context_, [this] { OnMonitorReadable(); });
  return true;
}

void QtDevices::StopNotifications() {
  UnwatchDeclaredPorts();
  CloseMonitor();
}

void QtDevices::CloseMonitor() {
  if (notifier_ != nullptr) {
    // Possibly stopped from the notifier's own signal: deleted afterwards, or
    // with its parent.
    notifier_->setEnabled(false);
    notifier_->deleteLater();
    notifier_ = nullptr;
  }
  if (monitor_ != nullptr) udev_monitor_unref(monitor_);
  monitor_ = nullptr;
  if (udev_ != nullptr) udev_unref(udev_);
  udev_ = nullptr;
}

void QtDevices::OnMonitorReadable() {
  // Drain what is queued; the monitor's socket is non-blocking.
  for (int i = 0; i < 64 && monitor_ != nullptr; ++i) {
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (device == nullptr) break;
    const char* action_text = udev_device_get_action(device);
    const std::string action = action_text != nullptr ? action_text : "";
    udev_device_unref(device);
    platform::DeviceEvent event = platform::DeviceEvent::Other;
    if (action == "add") {
      event = platform::DeviceEvent::Arrival;
      cache_valid_ = false;
    } else if (action == "remove") {
      event = platform::DeviceEvent::RemoveComplete;
      cache_valid_ = false;
    }
    // The handler may stop the notifications.
    Notify(event);
  }
}

#endif

}  // namespace rlv::qtp
