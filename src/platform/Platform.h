#pragma once

#include "platform/Archive.h"
#include "platform/Clock.h"
#include "platform/Devices.h"
#include "platform/Dialogs.h"
#include "platform/EventLoop.h"
#include "platform/Files.h"
#include "platform/HotKeys.h"
#include "platform/IniFile.h"
#include "platform/Locale.h"
#include "platform/Network.h"
#include "platform/SerialPort.h"

namespace rlv::platform {

// Everything the core needs from the outside world. The owner of the platform
// (the Qt front end or a test) keeps every service alive longer than the core.
struct Platform {
  IClock* clock = nullptr;
  ITimerFactory* timers = nullptr;
  IEventLoop* loop = nullptr;
  ISerialPort* serial = nullptr;
  IDevices* devices = nullptr;
  IHotKeys* hotkeys = nullptr;
  IDialogs* dialogs = nullptr;
  IClipboard* clipboard = nullptr;
  IIniFiles* ini = nullptr;
  ILocale* locale = nullptr;
  IFiles* files = nullptr;
  INetwork* network = nullptr;
  IArchives* archives = nullptr;
};

}  // namespace rlv::platform
