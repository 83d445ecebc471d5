#include "config/Settings.h"

#include "app/MainWindow.h"

namespace rlv::config {

std::string WindowSettings::Path() const {
  return w_.DataPath(kFile);
}

void WindowSettings::ReadFormSettings() {
  // One read of the file serves every lookup.
  std::string why;
  LastError.clear();
  const platform::IniDocument doc = w_.plat.ini->Load(Path(), &why).value_or(platform::IniDocument{});
  if (!why.empty()) {
    LastError = Problem("SettingsNotRead", why);
    w_.ReportProblem(LastError);
  }
  auto text = [&](const char* section, const char* key, const std::string& def) {
    return doc.Get(section, key).value_or(def);
  };
  auto integer = [&](const char* section, const char* key, long long def) {
    auto value = doc.Get(section, key);
    return value ? platform::ParseInteger(*value).value_or(def) : def;
  };

  w_.messages.LanguageName = text("Settings", "Language", "russian");
  w_.link.PortName = text("Settings", "ComPort", "COM1");
  // The demo tracker's port does not exist outside a demo run.
  if (w_.link.PortName == kDemoPort && !w_.options.demo) w_.link.PortName = "COM1";
  w_.transfer.ConfigPath = text("Settings", "File_configuration", "default");

  ServerList.clear();
  ServerList.push_back(text("Address", "ServerAdr", kDefaultServer));
  for (const char* key : {"ServerAdr2", "ServerAdr3"}) {
    std::string server = text("Address", key, "");
    if (!server.empty()) ServerList.push_back(server);
  }
  // Ports are kept as unsigned 16-bit numbers, as the file has always been read.
  UpdatePort = static_cast<uint16_t>(integer("Address", "UpdatePort", kDefaultUpdatePort));
  ConfigPort = static_cast<uint16_t>(integer("Address", "ConfigPort", kDefaultConfigPort));

  w_.controls["AutoSendConfig"].SetChecked(integer("Settings", "AutoSendConfig", 0) != 0);
  w_.controls["DisableNews"].SetChecked(integer("Settings", "DisableNews", 0) != 0);
  MTK3333FW = integer("Settings", "MTK3333FW", 0);
  w_.remote.ListenAddress = text("Settings", "RemoteListenAddress", "");
  w_.remote.AllowedPeers = net::SplitAddressList(text("Settings", "RemoteAllowedPeers", ""));
  ReviewBeforeWrite = integer("Settings", "ReviewBeforeWrite", 1) != 0;
  w_.link.FastLink = w_.options.fast_link || integer("Settings", "FastLink", 0) != 0;
}

std::string WindowSettings::Problem(const char* key, const std::string& why) const {
  return w_.messages.GetStringOr("Errors", key, key) + ": " + Path() + " (" + why + ")";
}

bool WindowSettings::PortIsTheUsers() const {
  const std::string& port = w_.link.PortName;
  return !w_.options.demo && port != kDemoPort &&
         (w_.options.tracker_port.empty() || port != w_.options.tracker_port);
}

bool WindowSettings::SaveFormSettings() {
  std::string why;
  LastError.clear();
  if (KeepUserSettings) return true;
  auto loaded = w_.plat.ini->Load(Path(), &why);
  if (!loaded && !why.empty()) {
    LastError = Problem("SettingsNotSaved", why);
    return false;
  }
  platform::IniDocument doc = loaded.value_or(platform::IniDocument{});
  doc.Set("Settings", "Language", w_.messages.LanguageName);
  // Otherwise the file keeps the port it had.
  if (PortIsTheUsers()) doc.Set("Settings", "ComPort", w_.link.PortName);
  doc.Set("Settings", "File_configuration", w_.transfer.ConfigPath);
  doc.Set("Settings", "AutoSendConfig", w_.controls["AutoSendConfig"].Checked() ? "1" : "0");
  doc.Set("Settings", "DisableNews", w_.controls["DisableNews"].Checked() ? "1" : "0");
  if (w_.plat.ini->Store(Path(), doc, &why)) return true;
  LastError = Problem("SettingsNotSaved", why);
  return false;
}

int WindowSettings::ReadPass(const std::string& imei) const {
  // The IMEI becomes an INI key: anything but plain digits could write sections of its own.
  if (!monitor::IsValidImei(imei)) return 0;
  return static_cast<int>(w_.plat.ini->ReadInteger(Path(), "Passes", imei, 0));
}

bool WindowSettings::WritePass(const std::string& imei, int password) {
  if (!monitor::IsValidImei(imei)) return false;
  return w_.plat.ini->WriteString(Path(), "Passes", imei, std::to_string(password));
}

}  // namespace rlv::config
