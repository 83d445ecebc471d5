#include "QtSerialPort.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <limits>

#include "SerialLine.h"
#include "TrackerSim.h"

namespace rlv::qtp {

namespace {

using platform::OpenError;
using platform::OpenErrorKind;

OpenError FromQt(const QSerialPort& port) {
  OpenError out;
  out.text = port.errorString().toStdString();
  switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
      out.kind = OpenErrorKind::NotFound;
      break;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
      // On Linux our own open succeeded, so another program holds the port or
      // its lock; on Windows a port in use reports the same errors.
      out.kind = OpenErrorKind::Busy;
      break;
    default:
      out.kind = OpenErrorKind::Other;
      break;
  }
  return out;
}

std::string Describe(const OpenError& error) {
  switch (error.kind) {
    case OpenErrorKind::None:
      return {};
    case OpenErrorKind::NotFound:
      return "no such device (" + error.text + ")";
    case OpenErrorKind::NotATerminal:
      return "not a serial port or terminal (" + error.text + ")";
    case OpenErrorKind::PermissionDenied:
      return "permission denied" +
             (error.group.empty() ? std::string() : " (the device belongs to the group " + error.group + ")");
    case OpenErrorKind::Busy:
      return "busy, held by another program (" + error.text + ")";
    case OpenErrorKind::Other:
      break;
  }
  return error.text;
}

}  // namespace

// ---------------------------------------------------------------------------
// QtSerialPort

QtSerialPort::QtSerialPort() {
  QObject::connect(&port_, &QSerialPort::readyRead, &context_, [this] { OnReadyRead(); });
  QObject::connect(&port_, &QSerialPort::errorOccurred, &context_,
                   [this](QSerialPort::SerialPortError error) { OnError(error); });
}

QtSerialPort::~QtSerialPort() {
  // No handler may run while the members go away.
  QObject::disconnect(&port_, nullptr, &context_, nullptr);
  if (port_.isOpen()) port_.close();
}

bool QtSerialPort::Open(const std::string& name) {
  Close();
  name_ = name;
  failed_ = false;
  reported_ = 0;
  open_error_ = {};
  if (!OpenDevice(name)) {
    TellOpenFailure();
    return false;
  }
  // A later failure of this port is told again.
  std::erase_if(told_, [&](const std::string& key) { return key.substr(key.find('|') + 1) == name; });
  open_ = true;
  return true;
}

bool QtSerialPort::OpenDevice(const std::string& name) {
  if (name.empty()) {
    open_error_ = {OpenErrorKind::NotFound, "no port name", ""};
    return false;
  }
  SerialLine line;
  if (!line.Prepare(name, open_error_)) return false;
  port_.setPortName(QString::fromStdString(SerialLine::SystemName(name)));
  port_.setBaudRate(QSerialPort::Baud9600);
  port_.setDataBits(QSerialPort::Data8);
  port_.setParity(QSerialPort::NoParity);
  port_.setStopBits(QSerialPort::OneStop);
  port_.setFlowControl(QSerialPort::NoFlowControl);
  // What arrives while the link is not reading waits in the driver, not in
  // our memory: a peer that floods the port cannot grow the program.
  port_.setReadBufferSize(kReadBufferSize);
  opening_ = true;
  const bool ok = port_.open(QIODevice::ReadWrite);
  line.Opened(port_, ok);
  opening_ = false;
  if (!ok) open_error_ = FromQt(port_);
  port_.clearError();
  return ok;
}

void QtSerialPort::TellOpenFailure() {
  // Told once for each port and reason: the search retries every second.
  const std::string key = std::to_string(static_cast<int>(open_error_.kind)) + "|" + name_;
  if (!tell_ || !told_.insert(key).second) return;
  std::fprintf(stderr, "serial port %s cannot be opened: %s\n", name_.c_str(), Describe(open_error_).c_str());
}

bool QtSerialPort::SetBaudRate(int baud) {
  if (!open_ || failed_) return false;
  const bool ok = port_.setBaudRate(baud);
  if (!ok) port_.clearError();
  return ok;
}

int QtSerialPort::Read(uint8_t* buffer, int max) {
  if (buffer == nullptr || max <= 0 || !port_.isOpen()) return 0;
  const qint64 n = port_.read(reinterpret_cast<char*>(buffer), max);
  if (n <= 0) return 0;
  // The bytes read are the oldest, announced ones.
  reported_ = std::min(std::max<qint64>(0, reported_ - n), port_.bytesAvailable());
  return static_cast<int>(n);
}

bool QtSerialPort::ClearInput() {
  reported_ = 0;
  if (!port_.isOpen()) return false;
  // Drops the driver's input queue and what QSerialPort already buffered.
  const bool ok = port_.clear(QSerialPort::Input);
  if (!ok) port_.clearError();
  return ok;
}

int QtSerialPort::Write(const uint8_t* data, int count) {
  if (!open_ || failed_ || !port_.isOpen() || count < 0 || (data == nullptr && count > 0)) return -1;
  if (count == 0) return 0;
  const qint64 n = port_.write(reinterpret_cast<const char*>(data), count);
  if (n != count) return -1;
  // Hands the bytes to the driver now, so that an error of the port fails
  // this write rather than the next one.
  port_.flush();
  if (failed_ || !port_.isOpen()) return -1;
  return count;
}

void QtSerialPort::Close() {
  if (port_.isOpen() && open_ && !failed_) Drain();
  open_ = false;
  failed_ = false;
  reported_ = 0;
  if (port_.isOpen()) port_.close();
  port_.clearError();
}

void QtSerialPort::Drain() {
  // QSerialPort writes from the event loop and drops what it still holds when
  // closed: wait (bounded) for the last frame, a restart for example, to
  // reach the driver. At 9600 baud a byte takes about 1 ms on the wire.
  const qint64 pending = port_.bytesToWrite();
  if (pending <= 0) return;
  const qint64 budget = std::min<qint64>(kDrainMaxMs, kDrainBaseMs + pending * 2);
  QElapsedTimer clock;
  clock.start();
  while (port_.isOpen() && !failed_ && port_.bytesToWrite() > 0 && clock.elapsed() < budget) {
    port_.waitForBytesWritten(static_cast<int>(std::max<qint64>(1, budget - clock.elapsed())));
  }
}

void QtSerialPort::OnReadyRead() {
  if (!open_ || failed_) return;
  const qint64 available = port_.bytesAvailable();
  const qint64 fresh = available - reported_;
  if (fresh <= 0) return;
  reported_ = available;
  const int count = static_cast<int>(std::min<qint64>(fresh, std::numeric_limits<int>::max()));
  if (handler_) handler_(count);
}

void QtSerialPort::OnError(QSerialPort::SerialPortError error) {
  switch (error) {
    case QSerialPort::NoError:
      return;
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
      if (!opening_ && open_) {
        Fail(error);
        return;
      }
      break;
    default:
      break;
  }
  // Everything else (a pseudo-terminal refusing the modem lines, an open that
  // fails, a rejected setting) is answered by the call's own result.
  if (!opening_) port_.clearError();
}

void QtSerialPort::Fail(QSerialPort::SerialPortError error) {
  if (failed_) return;
  failed_ = true;
  std::fprintf(stderr, "serial port %s failed (%s)\n", name_.c_str(),
               error == QSerialPort::ResourceError ? "device removed"
               : error == QSerialPort::WriteError  ? "write error"
                                                   : "read error");
  // Stop reading: the port would otherwise report the error on every pass of
  // the event loop. QSerialPort is closed outside its own signal.
  QTimer::singleShot(0, &context_, [this] {
    if (failed_ && port_.isOpen()) port_.close();
    port_.clearError();
  });
}

// ---------------------------------------------------------------------------
// DemoSerialPort

platform::OpenError DemoSerialPort::LastOpenError() const {
  if (open_ || name_.empty() || name_ == kDemoPortName) return {};
  return {OpenErrorKind::NotFound, "not the demo port", ""};
}

namespace {
sim::SimConfig LivingTracker() {
  sim::SimConfig config;
  config.living = true;
  config.fault_block_pace_ms = 100;
  return config;
}
}  // namespace

DemoSerialPort::DemoSerialPort() : sim_(std::make_unique<sim::TrackerSim>(LivingTracker())) {
  sim_->SetOutput([this](const std::vector<uint8_t>& bytes) { OnSimOutput(bytes); });
  // The demo tracker drives, counts and reports while its port is open.
  clock_.setInterval(kLifeTickMs);
  QObject::connect(&clock_, &QTimer::timeout, &context_, [this] { sim_->Advance(kLifeTickMs); });
}

DemoSerialPort::~DemoSerialPort() {
  sim_->SetOutput(nullptr);
}

bool DemoSerialPort::Open(const std::string& name) {
  Close();
  name_ = name;
  if (name != kDemoPortName) return false;
  open_ = true;
  clock_.start();
  ++generation_;
  return true;
}

bool DemoSerialPort::SetBaudRate(int baud) {
  return open_ && (baud == 9600 || baud == 115200);
}

int DemoSerialPort::Read(uint8_t* buffer, int max) {
  if (buffer == nullptr || max <= 0) return 0;
  const size_t n = std::min(input_.size(), static_cast<size_t>(max));
  std::copy_n(input_.begin(), n, buffer);
  input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
  return static_cast<int>(n);
}

bool DemoSerialPort::ClearInput() {
  input_.clear();
  return open_;
}

int DemoSerialPort::Write(const uint8_t* data, int count) {
  if (!open_ || count < 0 || (data == nullptr && count > 0)) return -1;
  if (count > 0) sim_->Feed(data, static_cast<size_t>(count));
  return count;
}

void DemoSerialPort::Close() {
  clock_.stop();
  if (open_) sim_->DiscardPartialInput();
  open_ = false;
  ++generation_;
  delivery_scheduled_ = false;
  in_flight_.clear();
  input_.clear();
}

void DemoSerialPort::OnSimOutput(const std::vector<uint8_t>& bytes) {
  if (!open_) return;
  in_flight_.insert(in_flight_.end(), bytes.begin(), bytes.end());
  if (delivery_scheduled_) return;
  delivery_scheduled_ = true;
  const uint64_t generation = generation_;
  QTimer::singleShot(kAnswerDelayMs, Qt::PreciseTimer, &context_, [this, generation] {
    if (generation != generation_) return;  // closed or reopened meanwhile
    delivery_scheduled_ = false;
    Deliver();
  });
}

void DemoSerialPort::Deliver() {
  if (!open_ || in_flight_.empty()) return;
  const int count = static_cast<int>(in_flight_.size());
  input_.insert(input_.end(), in_flight_.begin(), in_flight_.end());
  in_flight_.clear();
  if (handler_) handler_(count);
}

// ---------------------------------------------------------------------------
// SerialPortRouter

SerialPortRouter::SerialPortRouter(bool with_demo)
    : demo_(with_demo ? std::make_unique<DemoSerialPort>() : nullptr), active_(&real_) {}

SerialPortRouter::~SerialPortRouter() = default;

bool SerialPortRouter::Open(const std::string& name) {
  real_.Close();
  if (demo_) demo_->Close();
  active_ = (demo_ && name == kDemoPortName) ? static_cast<platform::ISerialPort*>(demo_.get())
                                             : static_cast<platform::ISerialPort*>(&real_);
  return active_->Open(name);
}

void SerialPortRouter::SetReceivedHandler(std::function<void(int count)> handler) {
  if (demo_) demo_->SetReceivedHandler(handler);
  real_.SetReceivedHandler(std::move(handler));
}

}  // namespace rlv::qtp
