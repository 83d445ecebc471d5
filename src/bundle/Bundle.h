#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/ConfigFile.h"
#include "platform/Archive.h"
#include "platform/SerialPort.h"

namespace rlv::app {
class MainWindow;
}
namespace rlv::ui {
class ControlModel;
}

namespace rlv::bundle {

// One file of the diagnostic bundle.
using Entry = platform::ArchiveEntry;

// The serial port with every byte in and out written to a trace, one line per
// read or write: milliseconds since the start, direction, bytes in hexadecimal.
class TracingSerialPort : public platform::ISerialPort {
 public:
  // `clock_ms` counts milliseconds; the system's steady clock when none is given.
  explicit TracingSerialPort(platform::ISerialPort& port, std::function<int64_t()> clock_ms = nullptr);
  bool Open(const std::string& name) override;
  bool IsOpen() const override { return port_.IsOpen(); }
  std::string Name() const override { return port_.Name(); }
  platform::OpenError LastOpenError() const override { return port_.LastOpenError(); }
  bool SetBaudRate(int baud) override { return port_.SetBaudRate(baud); }
  int Read(uint8_t* buffer, int max) override;
  bool ClearInput() override { return port_.ClearInput(); }
  int Write(const uint8_t* data, int count) override;
  void Close() override;
  void SetReceivedHandler(std::function<void(int count)> handler) override {
    port_.SetReceivedHandler(std::move(handler));
  }

  // The trace so far; it keeps its last kLimit bytes, after a first line
  // kDropped once earlier lines were dropped.
  static constexpr size_t kLimit = 4u << 20;
  static constexpr const char* kDropped = "(earlier lines dropped)\n";
  const std::string& Trace() const { return trace_; }

 private:
  void Add(const char* what, const uint8_t* data, int count);

  platform::ISerialPort& port_;
  std::function<int64_t()> clock_ms_;
  int64_t start_ms_;
  std::string trace_;
};

// The tracker's state and the configurator's own: device and navigation
// records (raw and as the monitoring page shows them), the configuration
// (".fcg" and text), the event and fault logs, `trace`, the version and the
// settings, with every password removed.
std::vector<Entry> Collect(app::MainWindow& w, const std::string& trace);

// The first configuration record with the tracker's password set to 0 and
// its checksum computed again.
config::Block WithoutPassword(const config::Block& record);

// The trace with the tracker's password blanked (to 00 00) wherever a frame
// carries it: the password request's payload, and the first record in the
// configuration write request and in the read answer. The frames' and the
// records' checksums are computed again, so they give nothing away. In a
// trace whose beginning was dropped, the bytes before the first frame of each
// direction are blanked too.
std::string TraceWithoutPassword(const std::string& trace);

// The settings file's text without passwords: the remembered tracker passwords
// and every key whose name speaks of a password lose their values.
std::string WithoutPasswords(const std::string& ini);

// A ZIP archive of the entries, through a temporary file and a rename, by the
// platform's archive writer.
bool WriteArchive(app::MainWindow& w, const std::string& path, const std::vector<Entry>& entries,
                  std::string* why);

// The window's action: the bundle of the connected tracker into a file the
// user chooses. The trace is there when the front end traces the serial port.
class DiagnosticBundle {
 public:
  explicit DiagnosticBundle(app::MainWindow& w) : w_(w) {}
  static void DeclareControls(ui::ControlModel& model);
  void BindHandlers();
  void SaveBundleClick();

 private:
  app::MainWindow& w_;
};

}  // namespace rlv::bundle
