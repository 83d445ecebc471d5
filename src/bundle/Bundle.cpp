#include "bundle/Bundle.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "app/MainWindow.h"
#include "config/ConfigText.h"

namespace rlv::bundle {

namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

std::string Lines(app::MainWindow& w, std::initializer_list<const char*> names) {
  std::string out;
  for (const char* name : names) {
    if (const ui::Control* c = w.controls.Find(name)) out += c->Text() + "\n";
  }
  return out;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

TracingSerialPort::TracingSerialPort(platform::ISerialPort& port, std::function<int64_t()> clock_ms)
    : port_(port),
      clock_ms_(clock_ms ? std::move(clock_ms) : std::function<int64_t()>([] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
      })),
      start_ms_(clock_ms_()) {}

void TracingSerialPort::Add(const char* what, const uint8_t* data, int count) {
  char head[64];
  std::snprintf(head, sizeof head, "%10lld %s", static_cast<long long>(clock_ms_() - start_ms_), what);
  std::string line = head;
  for (int i = 0; i < count; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", data[i]);
    line += hex;
  }
  trace_ += line + "\n";
  if (trace_.size() > kLimit) trace_.erase(0, trace_.find('\n', trace_.size() - kLimit) + 1);
}

bool TracingSerialPort::Open(const std::string& name) {
  const bool open = port_.Open(name);
  const std::string text = name + (open ? "" : " (failed)");
  Add("open", nullptr, 0);
  trace_.pop_back();
  trace_ += " " + text + "\n";
  return open;
}

int TracingSerialPort::Read(uint8_t* buffer, int max) {
  const int n = port_.Read(buffer, max);
  if (n > 0) Add("rx", buffer, n);
  return n;
}

int TracingSerialPort::Write(const uint8_t* data, int count) {
  const int n = port_.Write(data, count);
  if (n > 0) Add("tx", data, n);
  return n;
}

void TracingSerialPort::Close() {
  Add("close", nullptr, 0);
  port_.Close();
}

std::string WithoutPasswords(const std::string& ini) {
  std::string out;
  bool passes = false;
  size_t pos = 0;
  while (pos < ini.size()) {
    size_t end = ini.find('\n', pos);
    if (end == std::string::npos) end = ini.size();
    std::string line = ini.substr(pos, end - pos);
    pos = end + 1;
    const std::string trimmed = Lower(line.substr(0, line.find_first_of("\r")));
    const size_t first = trimmed.find_first_not_of(" \t");
    if (first != std::string::npos && trimmed[first] == '[') {
      passes = trimmed.find("pass") != std::string::npos;
    } else if (const size_t eq = line.find('='); eq != std::string::npos) {
      if (passes || Lower(line.substr(0, eq)).find("pass") != std::string::npos)
        line = line.substr(0, eq + 1);
    }
    out += line + "\n";
  }
  return out;
}

std::vector<Entry> Collect(app::MainWindow& w, const std::string& trace) {
  std::vector<Entry> out;
  const auto& m = w.monitoring;
  out.push_back({"device-record.bin", {m.DeviceRecord.begin(), m.DeviceRecord.end()}});
  out.push_back(
      {"device-record.txt", Bytes(Lines(w, {"ComPortDeviceCaption", "LType", "LVer", "LIMEI", "LNumber",
                                            "LGSMreg", "LGPRSreg", "LPerPack", "LDataToSend"}))});
  out.push_back({"navigation-record.bin", {m.NavigationRecord.begin(), m.NavigationRecord.end()}});
  out.push_back({"navigation-record.txt",
                 Bytes(Lines(w, {"LDateTime", "LLat",     "LLon",     "LSat",  "LHDOP", "LHeight",
                                 "LSpeed",    "LCourse",  "LOdo",     "LIN1",  "LIN2",  "LiBut",
                                 "LTemp1",    "LTemp2",   "LValid",   "LOUT1", "LTemp", "LAccel_X",
                                 "LAccel_Y",  "LAccel_Z", "WorkTime", "LCsq"}))});
  const config::text::Records records{w.config.ConfigBlock1, w.config.ConfigBlock2};
  out.push_back({"configuration.fcg", config::text::ToConfigFile(records)});
  // The password of the tracker's configuration is left out of the text.
  std::string text = config::text::Export(records);
  const size_t at = text.find("\nCONFPASS = ");
  if (at != std::string::npos) text.replace(at + 12, text.find('\n', at + 1) - at - 12, "(removed)");
  out.push_back({"configuration.txt", Bytes(text)});
  std::string events;
  if (const ui::Control* log = w.controls.Find("LOG_memo")) {
    for (const std::string& line : log->Lines()) events += line + "\n";
  }
  out.push_back({"event-log.txt", Bytes(events)});
  std::string faults;
  if (const ui::Control* grid = w.controls.Find("FLOGGRID")) {
    for (int row = 0; row < grid->Rows(); ++row) {
      for (int col = 0; col < grid->Cols(); ++col) faults += (col ? "\t" : "") + grid->Cell(col, row);
      faults += "\n";
    }
  }
  out.push_back({"fault-log.txt", Bytes(faults)});
  out.push_back({"traffic-trace.txt", Bytes(trace)});
  out.push_back(
      {"version.txt", Bytes(std::string("rlvexa-configurator ") + app::MainWindow::kVersionText + "\n")});
  const auto settings = w.Files().Read(w.settings.Path(), 1u << 20);
  const std::string ini = settings ? std::string(settings->begin(), settings->end()) : std::string();
  out.push_back({"settings.ini", Bytes(WithoutPasswords(ini))});
  return out;
}

bool WriteArchive(app::MainWindow& w, const std::string& path, const std::vector<Entry>& entries,
                  std::string* why) {
  if (w.plat.archives == nullptr) {
    if (why) *why = "no archive writer";
    return false;
  }
  return w.plat.archives->WriteZip(path, entries, why);
}

void DiagnosticBundle::DeclareControls(ui::ControlModel& m) {
  m.Add("SaveBundle", ui::Kind::Button, "GroupDiagnostic").SetText("Пакет диагностики…");
}

void DiagnosticBundle::BindHandlers() {
  w_.controls.On("SaveBundle", ui::Event::Click, [this](const ui::EventArgs&) { SaveBundleClick(); });
}

void DiagnosticBundle::SaveBundleClick() {
  const bool english = w_.messages.LanguageName == "english";
  const std::string suggested = w_.DataPath(
      "rlvexa-" + (w_.transfer.TrackerImei.empty() ? std::string("bundle") : w_.transfer.TrackerImei) +
      ".zip");
  const auto path = w_.plat.dialogs->SaveFile(
      w_.messages.GetStringOr("Window", "BundleFilter", "Архивы ZIP (*.zip)|*.zip"), "zip", suggested);
  if (!path) return;
  const auto* traced = dynamic_cast<const TracingSerialPort*>(w_.plat.serial);
  std::string why;
  if (WriteArchive(w_, *path, Collect(w_, traced ? traced->Trace() : std::string("(no trace)\n")), &why)) {
    w_.messages.MessageShow((english ? "Diagnostic bundle saved: " : "Пакет диагностики сохранён: ") + *path);
  } else {
    w_.messages.MessageShow(
        (english ? "The diagnostic bundle was not saved: " : "Пакет диагностики не сохранён: ") + *path +
        ": " + why);
  }
}

}  // namespace rlv::bundle
