// The system's serial ports on Linux: udev and sysfs.
#include <libudev.h>

#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "QtDevices.h"

namespace rlv::qtp {

struct QtDevices::Watch {
  udev* handle = nullptr;  // the udev library's context
  udev_monitor* monitor = nullptr;
  QSocketNotifier* notifier = nullptr;  // child of context_
  // The monitor has events for `devices`.
  static void Readable(QtDevices& devices);
  // Closes the monitor of `devices`.
  static void Close(QtDevices& devices);
};

namespace {

std::string Trimmed(std::string s) {
  const auto not_space = [](unsigned char c) { return c > ' '; };
  s.erase(s.begin(), std::find_if(s.begin(), s.end(), not_space));
  s.erase(std::find_if(s.rbegin(), s.rend(), not_space).base(), s.end());
  return s;
}

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
QtDevices::QtDevices(std::vector<platform::UsbSerialDevice> extra)
    : watch_(std::make_unique<Watch>()), extra_(std::move(extra)) {}

QtDevices::~QtDevices() {
  StopNotifications();
}

bool QtDevices::CacheCurrent() const {
  // Listing walks the udev database and sysfs: done again only when the
  // monitor saw a tty come or go, or when no monitor runs.
  return watch_->monitor != nullptr;
}

std::vector<QtDevices::Listed> QtDevices::ListSystemPorts() {
  std::vector<Listed> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    Listed port;
    port.device.port_name = info.systemLocation().toStdString();
    if (port.device.port_name.empty()) continue;
    port.short_name = info.portName().toStdString();
    if (info.hasVendorIdentifier()) port.device.vendor_id = info.vendorIdentifier();
    port.usb = info.hasVendorIdentifier() || port.short_name.rfind("ttyACM", 0) == 0 ||
               port.short_name.rfind("ttyUSB", 0) == 0;
    if (port.usb) port.device.friendly_name = UsbFriendlyNameFromSysfs(port.short_name);
    if (port.device.friendly_name.empty())
      port.device.friendly_name = Trimmed(info.description().toStdString());
    if (port.device.friendly_name.empty()) port.device.friendly_name = port.short_name;
    ports.push_back(std::move(port));
  }
  return ports;
}

bool QtDevices::ModemManagerRunning() {
  return ModemManagerInProcessTable();
}

bool QtDevices::StartNotifications() {
  if (declared_watch_ == nullptr) WatchDeclaredPorts();
  if (watch_->monitor != nullptr) return true;
  cache_valid_ = false;
  watch_->handle = udev_new();
  if (watch_->handle == nullptr) {
    std::fprintf(stderr, "device notifications unavailable: udev_new failed\n");
    return false;
  }
  // Events processed by the udev daemon when it runs (the device node exists
  // by then), otherwise the kernel's own.
  std::error_code ec;
  const char* source = std::filesystem::exists("/run/udev/control", ec) ? "udev" : "kernel";
  watch_->monitor = udev_monitor_new_from_netlink(watch_->handle, source);
  if (watch_->monitor == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(watch_->monitor, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(watch_->monitor) < 0) {
    std::fprintf(stderr, "device notifications unavailable: no %s monitor\n", source);
    Watch::Close(*this);
    return false;
  }
  const int fd = udev_monitor_get_fd(watch_->monitor);
  if (fd < 0) {
    Watch::Close(*this);
    return false;
  }
  watch_->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &context_);
  QObject::connect(watch_->notifier, &QSocketNotifier::activated, &context_,
                   [this] { Watch::Readable(*this); });
  return true;
}

void QtDevices::StopNotifications() {
  UnwatchDeclaredPorts();
  Watch::Close(*this);
}

void QtDevices::Watch::Close(QtDevices& d) {
  Watch& w = *d.watch_;
  if (w.notifier != nullptr) {
    // Possibly stopped from the notifier's own signal: deleted afterwards, or
    // with its parent.
    w.notifier->setEnabled(false);
    w.notifier->deleteLater();
    w.notifier = nullptr;
  }
  if (w.monitor != nullptr) udev_monitor_unref(w.monitor);
  w.monitor = nullptr;
  if (w.handle != nullptr) udev_unref(w.handle);
  w.handle = nullptr;
}

void QtDevices::Watch::Readable(QtDevices& d) {
  // Drain what is queued; the monitor's socket is non-blocking.
  for (int i = 0; i < 64 && d.watch_->monitor != nullptr; ++i) {
    udev_device* device = udev_monitor_receive_device(d.watch_->monitor);
    if (device == nullptr) break;
    const char* action_text = udev_device_get_action(device);
    const std::string action = action_text != nullptr ? action_text : "";
    udev_device_unref(device);
    platform::DeviceEvent event = platform::DeviceEvent::Other;
    if (action == "add") {
      event = platform::DeviceEvent::Arrival;
      d.cache_valid_ = false;
    } else if (action == "remove") {
      event = platform::DeviceEvent::RemoveComplete;
      d.cache_valid_ = false;
    }
    // The handler may stop the notifications.
    d.Notify(event);
  }
}

}  // namespace rlv::qtp
