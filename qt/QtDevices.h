#pragma once

// Serial device enumeration and hot-plug notification for the Qt platform.
//
// The common part lists the system's ports, the ports the user named and the
// declared ones. How the system's ports are listed and watched is one file per
// platform, chosen by the build option RLVEXA_WITH_UDEV:
// - QtDevicesUdev.cpp (Linux): the ports QSerialPortInfo lists that a USB
//   device backs (ttyACM, ttyUSB), named by their device path; the friendly
//   name from the USB device's manufacturer and product strings in sysfs.
//   Hot-plug comes from a udev monitor on the "tty" subsystem, which also tells
//   when the cached port list is stale.
// - QtDevicesPortable.cpp (Windows, macOS, Linux without udev): Qt alone. The
//   ports with a USB vendor from QSerialPortInfo, friendly name "description
//   (port)", in the order people count (COM2 before COM10); hot-plug by
//   comparing the port list once a second, the discovery tick's period.
// A declared port named by its path (a pseudo-terminal, a /dev/serial/by-id
// link) is present while that path exists; its folder is watched, so that its
// coming and going are told like a device's, with or without udev.

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "platform/Devices.h"

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
  // Run by the platform's Start- and StopNotifications.
  void WatchDeclaredPorts();
  void UnwatchDeclaredPorts();
  QFileSystemWatcher* declared_watch_ = nullptr;  // child of context_, while notifications run
  std::vector<bool> declared_present_;
  // The system's ports, listed anew (the platform's file).
  std::vector<Listed> ListSystemPorts();
  // Whether cache_ still holds the system's ports (the platform's file).
  bool CacheCurrent() const;
  // The platform's watch of the system's ports.
  struct Watch;
  std::unique_ptr<Watch> watch_;
  QObject context_;
  std::vector<Listed> cache_;
  bool cache_valid_ = false;
  std::vector<std::string> named_;
  std::vector<platform::UsbSerialDevice> extra_;
  std::function<void(platform::DeviceEvent)> handler_;
};

#if RLVEXA_WITH_UDEV
// The USB manufacturer and product strings of a tty (for example "ttyACM0"),
// read from sysfs below `sys_root` (normally "/sys"); empty when the tty is not
// a USB device or the strings are missing.
std::string UsbFriendlyNameFromSysfs(const std::string& tty_name, const std::string& sys_root = "/sys");

// Whether a process named ModemManager runs, from the process table below
// `proc_root` (normally "/proc").
bool ModemManagerInProcessTable(const std::string& proc_root = "/proc");
#endif

}  // namespace rlv::qtp
