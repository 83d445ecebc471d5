#include "bundle/Bundle.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "app/MainWindow.h"
#include "config/ConfigFile.h"
#include "config/ConfigText.h"
#include "link/Bytes.h"
#include "link/Crc.h"
#include "protocol/Dispatcher.h"

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

// The offsets, in a record, of the configuration password and of the checksum.
constexpr size_t kPasswordAt = config::kConfigPasswordOffset;
constexpr size_t kRecordCrcAt = config::kRecordSize - 2;

// Where the first record starts in the payload of a frame that carries it
// (the write request and the read answer for block 0), or npos.
size_t RecordInPayload(uint8_t direction, uint8_t command, const uint8_t* payload, size_t available) {
  if (direction == 0xAA && command == protocol::kConfigWrite && available >= 1 && payload[0] == 0) return 3;
  if (direction == 0x55 && command == protocol::kConfigRead && available >= 2 && payload[0] == 0 &&
      payload[1] == 0) {
    return 4;
  }
  return std::string::npos;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes of one direction of the trace, each with the place of its two
// hexadecimal digits in the text.
struct Stream {
  std::vector<uint8_t> bytes;
  std::vector<size_t> at;
};

}  // namespace

config::Block WithoutPassword(const config::Block& record) {
  config::Block out = record;
  out[kPasswordAt] = 0;
  out[kPasswordAt + 1] = 0;
  link::PutU16(out.data() + kRecordCrcAt, link::Crc16(out.data(), kRecordCrcAt));
  return out;
}

std::string TraceWithoutPassword(const std::string& trace) {
  std::string out = trace;
  Stream streams[2];  // sent, received
  const bool dropped = out.rfind(TracingSerialPort::kDropped, 0) == 0;
  for (size_t pos = 0; pos < out.size();) {
    size_t end = out.find('\n', pos);
    if (end == std::string::npos) end = out.size();
    // "<milliseconds> <rx|tx> XX XX ..."
    const size_t time = out.find_first_not_of(' ', pos);
    const size_t space = time < end ? out.find(' ', time) : std::string::npos;
    if (space != std::string::npos && space + 3 <= end) {
      const std::string what = out.substr(space + 1, 2);
      Stream* stream = what == "tx" ? &streams[0] : what == "rx" ? &streams[1] : nullptr;
      for (size_t at = space + 3; stream && at + 3 <= end && out[at] == ' '; at += 3) {
        const int high = HexDigit(out[at + 1]), low = HexDigit(out[at + 2]);
        if (high < 0 || low < 0) break;
        stream->bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        stream->at.push_back(at + 1);
      }
    }
    pos = end + 1;
  }
  for (Stream& s : streams) {
    std::vector<uint8_t>& b = s.bytes;
    const size_t n = b.size();
    std::vector<bool> changed(n, false);
    auto blank = [&](size_t i) {
      if (i < n) {
        b[i] = 0;
        changed[i] = true;
      }
    };
    // Before the first frame of a trace whose beginning was dropped: bytes of
    // a frame whose head is gone, which may be one that carries the password.
    size_t first = 0;
    while (first + 4 <= n && std::memcmp(&b[first], "SLRL", 4) != 0) ++first;
    if (dropped) {
      for (size_t i = 0; i < std::min(first, n); ++i) blank(i);
    }
    for (size_t i = first; i + 8 <= n; ++i) {
      if (std::memcmp(&b[i], "SLRL", 4) != 0) continue;
      const size_t length = link::GetU16(&b[i + 4]);  // direction, command and payload
      if (length < 2) continue;
      const uint8_t direction = b[i + 6], command = b[i + 7];
      const size_t payload = i + 8, crc = i + 6 + length;
      const size_t available = std::min(n, crc) - payload;
      // Only bytes of this frame are blanked.
      auto blank_in_frame = [&](size_t at) {
        if (at < crc) blank(at);
      };
      bool touched = false;
      if (direction == 0xAA && command == protocol::kPassword) {
        blank_in_frame(payload);
        blank_in_frame(payload + 1);
        touched = true;
      }
      const size_t record_at = RecordInPayload(direction, command, b.data() + payload, available);
      if (record_at != std::string::npos) {
        const size_t record = payload + record_at;
        blank_in_frame(record + kPasswordAt);
        blank_in_frame(record + kPasswordAt + 1);
        if (record + config::kRecordSize <= std::min(n, crc)) {
          link::PutU16(&b[record + kRecordCrcAt], link::Crc16(&b[record], kRecordCrcAt));
          changed[record + kRecordCrcAt] = changed[record + kRecordCrcAt + 1] = true;
        } else {  // the record's end is not in the trace: its checksum cannot be made whole
          blank_in_frame(record + kRecordCrcAt);
          blank_in_frame(record + kRecordCrcAt + 1);
        }
        touched = true;
      }
      if (touched && crc + 2 <= n) {
        link::PutU16(&b[crc], link::Crc16(&b[i + 6], length));
        changed[crc] = changed[crc + 1] = true;
      }
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < n; ++i) {
      if (!changed[i]) continue;
      out[s.at[i]] = kHex[b[i] >> 4];
      out[s.at[i] + 1] = kHex[b[i] & 15];
    }
  }
  return out;
}

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
  if (trace_.size() > kLimit) {
    trace_.erase(0, trace_.find('\n', trace_.size() - kLimit) + 1);
    trace_.insert(0, kDropped);
  }
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
  // The tracker's password is blanked in the first record, whose checksum is made whole again.
  const config::text::Records records{WithoutPassword(w.config.ConfigBlock1), w.config.ConfigBlock2};
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
  out.push_back({"traffic-trace.txt", Bytes(TraceWithoutPassword(trace))});
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
