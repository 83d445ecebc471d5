#include "FakePlatform.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace rlv::fake {

namespace {
// 2026-12-09 12:00:00.000 local (UTC+3) at virtual time 0.
platform::DateTime At(int64_t ms, int hour_offset) {
  platform::DateTime t{2026, 12, 9, 12 - hour_offset, 0, 0, 0};
  int64_t rest = ms;
  t.millisecond = static_cast<int>(rest % 1000);
  rest /= 1000;
  t.second = static_cast<int>(rest % 60);
  rest /= 60;
  t.minute = static_cast<int>(rest % 60);
  rest /= 60;
  t.hour += static_cast<int>(rest % 24);
  t.day += static_cast<int>(rest / 24);
  // Past midnight the hour wraps into the next day (days stay within December).
  if (t.hour >= 24) {
    t.hour -= 24;
    ++t.day;
  }
  return t;
}
}  // namespace

FakeClock::FakeClock() = default;

FakeClock::~FakeClock() = default;

platform::DateTime FakeClock::LocalNow() const {
  return At(now_, 0);
}
platform::DateTime FakeClock::UtcNow() const {
  return At(now_, 3);
}

std::unique_ptr<platform::ITimer> FakeClock::CreateTimer() {
  return std::make_unique<FakeTimer>(*this);
}

void FakeClock::Post(int delay_ms, std::function<void()> task) {
  tasks_.push_back(Task{now_ + std::max(0, delay_ms), seq_++, std::move(task)});
}

bool FakeClock::RunNext(int64_t limit) {
  FakeTimer* timer = nullptr;
  for (FakeTimer* t : timers_) {
    if (!t->active_ || t->due_ > limit) continue;
    if (timer == nullptr || t->due_ < timer->due_ || (t->due_ == timer->due_ && t->seq_ < timer->seq_))
      timer = t;
  }
  auto task = tasks_.end();
  for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
    if (it->due > limit) continue;
    if (task == tasks_.end() || it->due < task->due || (it->due == task->due && it->seq < task->seq))
      task = it;
  }
  const bool task_first = task != tasks_.end() && (timer == nullptr || task->due < timer->due_ ||
                                                   (task->due == timer->due_ && task->seq < timer->seq_));
  if (task_first) {
    now_ = std::max(now_, task->due);
    auto run = std::move(task->run);
    tasks_.erase(task);
    run();
    return true;
  }
  if (timer == nullptr) return false;
  now_ = std::max(now_, timer->due_);
  timer->due_ = now_ + timer->interval_;
  timer->seq_ = seq_++;
  if (timer->handler_) {
    auto handler = timer->handler_;
    handler();
  }
  return true;
}

void FakeClock::Advance(int64_t ms) {
  const int64_t target = now_ + std::max<int64_t>(0, ms);
  while (RunNext(target)) {
  }
  now_ = target;
}

bool FakeClock::RunUntil(const std::function<bool()>& done, int timeout_ms) {
  const int64_t target = now_ + std::max(0, timeout_ms);
  if (done()) return true;
  while (RunNext(target)) {
    if (done()) return true;
  }
  now_ = target;
  return done();
}

FakeTimer::FakeTimer(FakeClock& clock) : clock_(clock) {
  clock_.timers_.push_back(this);
}

FakeTimer::~FakeTimer() {
  auto& timers = clock_.timers_;
  timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
}

void FakeTimer::SetInterval(int ms) {
  interval_ = std::max(1, ms);
  if (active_) due_ = clock_.now_ + interval_;
}

void FakeTimer::Start() {
  active_ = true;
  due_ = clock_.now_ + interval_;
  seq_ = clock_.seq_++;
}

void FakeSerialPort::AddPort(const std::string& name, sim::TrackerSim* sim) {
  ports_[name] = sim;
  if (sim != nullptr) {
    sim->SetOutput([this, name, sim](const std::vector<uint8_t>& bytes) {
      const uint64_t generation = generation_;
      clock_.Post(latency_ + sim->TakeAnswerDelay(), [this, name, generation, bytes] {
        // Answers to a port that was closed or reopened since are lost.
        if (open_ && name_ == name && generation_ == generation) Inject(bytes);
      });
    });
  }
}

void FakeSerialPort::RemovePort(const std::string& name) {
  ports_.erase(name);
  // The open port stays open on our side, but its device is gone.
  if (name_ == name) broken_ = true;
}

void FakeSerialPort::RefuseOpen(const std::string& name, platform::OpenError error) {
  if (error.kind == platform::OpenErrorKind::None) {
    refused_.erase(name);
  } else {
    refused_[name] = std::move(error);
  }
}

void FakeSerialPort::Inject(const std::vector<uint8_t>& bytes) {
  if (!open_) return;
  rx_.insert(rx_.end(), bytes.begin(), bytes.end());
  if (handler_) handler_(static_cast<int>(bytes.size()));
}

bool FakeSerialPort::Open(const std::string& name) {
  open_ = false;
  rx_.clear();
  ++generation_;
  name_ = name;
  baud_ = 9600;
  broken_ = false;
  open_error_ = {};
  if (ports_.count(name) == 0) {
    open_error_ = {platform::OpenErrorKind::NotFound, "No such file or directory", ""};
    return false;
  }
  if (auto refused = refused_.find(name); refused != refused_.end()) {
    open_error_ = refused->second;
    return false;
  }
  open_ = true;
  ++open_count_;
  return true;
}

bool FakeSerialPort::SetBaudRate(int baud) {
  if (!open_) return false;
  baud_ = baud;
  return true;
}

int FakeSerialPort::Read(uint8_t* buffer, int max) {
  if (!open_ || max <= 0) return 0;
  const size_t n = std::min(rx_.size(), static_cast<size_t>(max));
  std::memcpy(buffer, rx_.data(), n);
  rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
  return static_cast<int>(n);
}

bool FakeSerialPort::ClearInput() {
  rx_.clear();
  return open_;
}

int FakeSerialPort::Write(const uint8_t* data, int count) {
  if (!open_ || fail_writes_ || broken_) return -1;
  writes_.push_back(WriteRecord{name_, clock_.Now(), std::vector<uint8_t>(data, data + count), baud_});
  auto it = ports_.find(name_);
  if (it != ports_.end() && it->second != nullptr) {
    it->second->SetLineSpeed(baud_);
    it->second->Feed(data, static_cast<size_t>(count));
  }
  return count;
}

void FakeDevices::Arrive(const platform::UsbSerialDevice& device) {
  devices.push_back(device);
  if (std::find(ports.begin(), ports.end(), device.port_name) == ports.end())
    ports.push_back(device.port_name);
  if (notifying_ && handler_) handler_(platform::DeviceEvent::Arrival);
}

void FakeDevices::Remove(const std::string& port_name) {
  devices.erase(std::remove_if(devices.begin(), devices.end(),
                               [&](const platform::UsbSerialDevice& d) { return d.port_name == port_name; }),
                devices.end());
  ports.erase(std::remove(ports.begin(), ports.end(), port_name), ports.end());
  if (notifying_ && handler_) handler_(platform::DeviceEvent::RemoveComplete);
}

TempDir::TempDir() {
  namespace fs = std::filesystem;
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path() / ("rlvexa-test-" + std::to_string(rd()));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      const std::u8string name = candidate.u8string();
      path_.assign(name.begin(), name.end());
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, const std::string& content) const {
  std::ofstream out(std::filesystem::u8path(File(name)), std::ios::binary | std::ios::trunc);
  out << content;
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream in(std::filesystem::u8path(File(name)), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool TempDir::Exists(const std::string& name) const {
  return std::filesystem::exists(std::filesystem::u8path(File(name)));
}

FakeEnvironment::FakeEnvironment() {
  platform.ini = &ini;
  platform.locale = &locale;
  platform.clock = &clock;
  platform.timers = &clock;
  platform.loop = &clock;
  platform.serial = &serial;
  platform.network = &network;
#ifdef RLVEXA_HAVE_ZIP
  platform.archives = &archives;
#endif
  platform.devices = &devices;
  platform.hotkeys = &hotkeys;
  platform.dialogs = &dialogs;
  platform.clipboard = &dialogs;
}

}  // namespace rlv::fake
