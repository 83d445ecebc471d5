#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "FakeNetwork.h"
#include "TrackerSim.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#ifdef RLVEXA_HAVE_ZIP
#include "platform/zip/LibArchiveZip.h"
#endif
#include "ui/Automation.h"

namespace rlv::fake {

class FakeTimer;

// Virtual time: timers and posted tasks fire in time order as a test advances
// the clock, so timer-driven behaviour runs in microseconds.
class FakeClock : public platform::IClock, public platform::ITimerFactory, public platform::IEventLoop {
 public:
  FakeClock();
  ~FakeClock() override;

  platform::DateTime LocalNow() const override;
  platform::DateTime UtcNow() const override;
  void Sleep(int ms) override { now_ += ms; }
  int64_t SteadyMs() const override { return now_; }
  std::unique_ptr<platform::ITimer> CreateTimer() override;

  void RunFor(int ms) override { Advance(ms); }
  bool RunUntil(const std::function<bool()>& done, int timeout_ms) override;
  void Post(int delay_ms, std::function<void()> task) override;

  // Runs every timer and task due within the next `ms` milliseconds, in order.
  void Advance(int64_t ms);
  int64_t Now() const { return now_; }

 private:
  friend class FakeTimer;
  struct Task {
    int64_t due;
    uint64_t seq;
    std::function<void()> run;
  };
  // Runs the earliest timer or task due no later than `limit`; false when none is.
  bool RunNext(int64_t limit);

  int64_t now_ = 0;
  uint64_t seq_ = 0;
  std::vector<FakeTimer*> timers_;
  std::vector<Task> tasks_;
};

class FakeTimer : public platform::ITimer {
 public:
  explicit FakeTimer(FakeClock& clock);
  ~FakeTimer() override;
  void SetInterval(int ms) override;
  int Interval() const override { return interval_; }
  void Start() override;
  void Stop() override { active_ = false; }
  bool IsActive() const override { return active_; }
  void SetHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

 private:
  friend class FakeClock;
  FakeClock& clock_;
  int interval_ = 1000;
  bool active_ = false;
  int64_t due_ = 0;
  uint64_t seq_ = 0;
  std::function<void()> handler_;
};

// In-memory serial ports. A port that exists can be opened; its other end is
// either a simulated tracker or the test itself (Inject). Every write is recorded.
class FakeSerialPort : public platform::ISerialPort {
 public:
  struct WriteRecord {
    std::string port;
    int64_t time;
    std::vector<uint8_t> bytes;
    int baud = 9600;  // the line speed the bytes went out at
  };

  explicit FakeSerialPort(FakeClock& clock) : clock_(clock) {}

  // Declares a port that can be opened; `sim` (optional) answers on it.
  void AddPort(const std::string& name, sim::TrackerSim* sim = nullptr);
  void RemovePort(const std::string& name);
  // Makes an existing port refuse to open, as the system would (kind None: it opens again).
  void RefuseOpen(const std::string& name, platform::OpenError error);
  // Simulated answers arrive this many milliseconds after the request.
  void SetLatency(int ms) { latency_ = ms; }
  // Makes every following write fail.
  void FailWrites(bool fail) { fail_writes_ = fail; }
  // Bytes arriving now from the other end of the open port.
  void Inject(const std::vector<uint8_t>& bytes);

  const std::vector<WriteRecord>& Writes() const { return writes_; }
  void ClearWrites() { writes_.clear(); }
  int OpenCount() const { return open_count_; }
  int Baud() const { return baud_; }

  bool Open(const std::string& name) override;
  bool IsOpen() const override { return open_; }
  std::string Name() const override { return name_; }
  platform::OpenError LastOpenError() const override { return open_error_; }
  bool SetBaudRate(int baud) override;
  int Read(uint8_t* buffer, int max) override;
  bool ClearInput() override;
  int Write(const uint8_t* data, int count) override;
  void Close() override { open_ = false; }
  void SetReceivedHandler(std::function<void(int)> handler) override { handler_ = std::move(handler); }

 private:
  FakeClock& clock_;
  std::map<std::string, sim::TrackerSim*> ports_;
  std::map<std::string, platform::OpenError> refused_;
  platform::OpenError open_error_;
  std::string name_;
  bool open_ = false;
  int baud_ = 9600;
  int latency_ = 2;
  bool fail_writes_ = false;
  bool broken_ = false;
  int open_count_ = 0;
  uint64_t generation_ = 0;
  std::vector<uint8_t> rx_;
  std::vector<WriteRecord> writes_;
  std::function<void(int)> handler_;
};

class FakeDevices : public platform::IDevices {
 public:
  std::vector<platform::UsbSerialDevice> devices;
  std::vector<std::string> ports;
  std::vector<std::string> named;  // the ports the user named
  bool modem_manager = false;      // a modem manager runs

  std::vector<platform::UsbSerialDevice> EnumerateSerialDevices() override { return devices; }
  std::vector<std::string> PortNames() override { return ports; }
  void NamePort(const std::string& name) override { named.push_back(name); }
  bool ModemManagerRunning() override { return modem_manager; }
  void SetChangeHandler(std::function<void(platform::DeviceEvent)> handler) override {
    handler_ = std::move(handler);
  }
  bool StartNotifications() override {
    notifying_ = true;
    return true;
  }
  void StopNotifications() override { notifying_ = false; }

  // A USB serial device is plugged in or pulled out.
  void Arrive(const platform::UsbSerialDevice& device);
  void Remove(const std::string& port_name);

 private:
  bool notifying_ = false;
  std::function<void(platform::DeviceEvent)> handler_;
};

class FakeHotKeys : public platform::IHotKeys {
 public:
  std::map<int, std::pair<unsigned, char>> registered;
  bool Register(int id, unsigned modifiers, char key) override {
    registered[id] = {modifiers, key};
    return true;
  }
  void Unregister(int id) override { registered.erase(id); }
  void SetHandler(std::function<void(int)> handler) override { handler_ = std::move(handler); }
  void Press(int id) {
    if (handler_ && registered.count(id) != 0) handler_(id);
  }

 private:
  std::function<void(int)> handler_;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return platform::JoinPath(path_, name); }
  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;

 private:
  std::string path_;
};

// A system whose decimal separator is a comma, as on Russian systems.
class FakeLocale : public platform::ILocale {
 public:
  char separator = ',';
  char DecimalSeparator() const override { return separator; }
};

// Every fake service, wired into one Platform. Files live in `dir`.
struct FakeEnvironment {
  FakeEnvironment();
  TempDir dir;
  platform::StdIniFiles ini;
  FakeLocale locale;
  FakeClock clock;
  FakeSerialPort serial{clock};
  FakeNetwork network{clock};
#ifdef RLVEXA_HAVE_ZIP
  platform::LibArchiveZip archives;
#endif
  FakeDevices devices;
  FakeHotKeys hotkeys;
  ui::ScriptedDialogs dialogs;
  platform::Platform platform;
};

}  // namespace rlv::fake
