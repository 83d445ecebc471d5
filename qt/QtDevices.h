#pragma once

// Serial device enumeration and hot-plug notification for the Qt platform.
//
// Linux: the ports QSerialPortInfo lists that a USB device backs (ttyACM,
// ttyUSB), named by their device path, and the ports the user named; the
// friendly name comes from the USB device's manufacturer and product strings in
// sysfs. Hot-plug comes from a udev monitor on the "tty" subsystem, which also
// tells when the cached port list is stale: while it runs, the system's ports
// are listed only after a tty came or went.
// A declared port named by its path (a pseudo-terminal, a /dev/serial/by-id
// link) is present while that path exists; its folder is watched, so that its
// coming and going are told like a device's, with or without udev.
// Windows: friendly name "description (COMn)"; hot-plug by polling the port
// list every second.

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "platform/Devices.h"

class QSocketNotifier;
struct udev;
struct udev_monitor;

namespace rlv::qtp {

class QtDevices : public platform::IDevices {
 public:
  // `extra` are declared ports (the simulator's pseudo-terminal, the demo
  // port): they are listed after the system's devices and among the port names.
  explicit QtDevices(std::vector<platform::UsbSerialDevice> extra);
  ~QtDevices() override;
  QtDevices(const QtDevices&) = delete;
  QtDevices& operator=(const QtDevices&) = delete;

  std::vector<platform::UsbSerialDevice> EnumerateSerialDevices() override;
  std::vector<std::string> PortNames() override;
  void NamePort(const std::string& name) override;
  bool ModemManagerRunning() override;
  void SetChangeHandler(std::function<void(platform::DeviceEvent)> handler) override {
    handler_ = std::move(handler);
  }
  bool StartNotifications() override;
  void StopNotifications() override;

  // The friendly name of a declared tracker port.
  static std::string TrackerFriendlyName(const std::string& label);

 private:
  // One port of the system's list.
  struct Listed {
    platform::UsbSerialDevice device;
    std::string short_name;  // "ttyACM0", "COM3"
    bool usb = false;        // a USB device backs it
  };
  // The system's ports: the cached list while the device monitor keeps it
  // current, else a fresh one.
  const std::vector<Listed>& SystemPorts();
  bool Named(const Listed& port) const;
  void Notify(platform::DeviceEvent event);
  // Declared ports that exist (or are not paths, such as the demo port).
  std::vector<platform::UsbSerialDevice> DeclaredPresent() const;
  // A watched folder changed: tells of declared ports that came or went.
  void OnDeclaredFolderChanged();
  void WatchDeclaredPorts();
  void UnwatchDeclaredPorts();
  QFileSystemWatcher* declared_watch_ = nullptr;  // child of context_, while notifications run
  std::vector<bool> declared_present_;
#ifdef _WIN32
  void Poll();
  QTimer poll_timer_;
  std::vector<std::string> last_ports_;
#else
  void OnMonitorReadable();
  void CloseMonitor();
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;  // child of context_
#endif
  QObject context_;
  std::vector<Listed> cache_;
  bool cache_valid_ = false;
  std::vector<std::string> named_;
  std::vector<platform::UsbSerialDevice> extra_;
  std::function<void(platform::DeviceEvent)> handler_;
};

#ifndef _WIN32
// The USB manufacturer and product strings of a tty (for example "ttyACM0"),
// read from sysfs below `sys_root` (normally "/sys"); empty when the tty is not
// a USB device or the strings are missing.
std::string UsbFriendlyNameFromSysfs(const std::string& tty_name, const std::string& sys_root = "/sys");

// Whether a process named ModemManager runs, from the process table below
// `proc_root` (normally "/proc").
bool ModemManagerInProcessTable(const std::string& proc_root = "/proc");
#endif

}  // namespace rlv::qtp
