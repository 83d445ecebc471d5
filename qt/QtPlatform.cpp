#include "QtPlatform.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <algorithm>
#include <chrono>

namespace rlv::qtp {

namespace {

platform::DateTime ToDateTime(const QDateTime& value) {
  const QDate date = value.date();
  const QTime time = value.time();
  platform::DateTime out;
  out.year = date.year();
  out.month = date.month();
  out.day = date.day();
  out.hour = time.hour();
  out.minute = time.minute();
  out.second = time.second();
  out.millisecond = time.msec();
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// QtClock

platform::DateTime QtClock::LocalNow() const {
  return ToDateTime(QDateTime::currentDateTime());
}

platform::DateTime QtClock::UtcNow() const {
  return ToDateTime(QDateTime::currentDateTimeUtc());
}

int64_t QtClock::SteadyMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void QtClock::Sleep(int ms) {
  if (ms > 0) QThread::msleep(static_cast<unsigned long>(ms));
}

// ---------------------------------------------------------------------------
// QtTimer

QtTimer::QtTimer() {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setSingleShot(false);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    if (handler_) handler_();
  });
}

void QtTimer::SetInterval(int ms) {
  // A running QTimer restarts with the new interval.
  timer_.setInterval(std::max(ms, 0));
}

void QtTimer::Start() {
  // Like enabling a timer that is already enabled: a running timer keeps its period.
  if (!timer_.isActive()) timer_.start();
}

// ---------------------------------------------------------------------------
// QtEventLoop

void QtEventLoop::RunFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(std::max(ms, 0), Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

bool QtEventLoop::RunUntil(const std::function<bool()>& done, int timeout_ms) {
  if (!done) return false;
  if (done()) return true;
  if (timeout_ms <= 0) return false;

  QEventLoop loop;
  bool result = false;
  const auto check = [&] {
    if (!result && done()) {
      result = true;
      loop.quit();
    }
  };
  // Checked whenever the loop has handled what was pending, and every 10 ms.
  QMetaObject::Connection after_events;
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
    after_events = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &loop, check);
  QTimer poll;
  poll.setTimerType(Qt::PreciseTimer);
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, &loop, check);
  poll.start();
  QTimer deadline;
  deadline.setTimerType(Qt::PreciseTimer);
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  deadline.start(timeout_ms);

  loop.exec();
  QObject::disconnect(after_events);
  poll.stop();
  deadline.stop();
  return result || done();
}

void QtEventLoop::Post(int delay_ms, std::function<void()> task) {
  if (!task) return;
  QTimer::singleShot(std::max(delay_ms, 0), Qt::PreciseTimer, &context_, std::move(task));
}

// ---------------------------------------------------------------------------
// QtHotKeys

bool QtHotKeys::Register(int id, unsigned modifiers, char key) {
  bindings_[id] = Binding{modifiers, key};
  if (changed_) changed_();
  return true;
}

void QtHotKeys::Unregister(int id) {
  if (bindings_.erase(id) != 0 && changed_) changed_();
}

void QtHotKeys::Trigger(int id) {
  if (bindings_.count(id) != 0 && handler_) handler_(id);
}

// ---------------------------------------------------------------------------
// QtPlatform

QtPlatform::QtPlatform(bool demo, const std::string& tracker_port)
    : serial(std::make_unique<SerialPortRouter>(demo)) {
  std::vector<platform::UsbSerialDevice> extra;
  if (!tracker_port.empty()) extra.push_back({QtDevices::TrackerFriendlyName("tracker-port"), tracker_port});
  if (demo) extra.push_back({QtDevices::TrackerFriendlyName("demo"), kDemoPortName});
  devices = std::make_unique<QtDevices>(std::move(extra));
}

QtPlatform::~QtPlatform() = default;

platform::Platform QtPlatform::Services() {
  platform::Platform services;
  services.clock = &clock;
  services.timers = &timers;
  services.loop = &loop;
  services.serial = serial.get();
  services.devices = devices.get();
  services.network = &network;
  services.archives = &archives;
  services.hotkeys = &hotkeys;
  services.ini = &ini;
  return services;
}

}  // namespace rlv::qtp
