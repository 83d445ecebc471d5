#pragma once

// The Qt 6 implementation of the platform interfaces: clock, timers, the event
// loop, hot keys, and the owner of every Qt service (`QtPlatform`).

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "QtDevices.h"
#include "QtNetwork.h"
#include "QtSerialPort.h"
#include "platform/Platform.h"
#include "platform/zip/LibArchiveZip.h"

namespace rlv::qtp {

class QtClock : public platform::IClock {
 public:
  platform::DateTime LocalNow() const override;
  platform::DateTime UtcNow() const override;
  void Sleep(int ms) override;
  int64_t SteadyMs() const override;
};

// A periodic timer on a QTimer (precise timer type, so a 10 ms period stays 10 ms).
class QtTimer : public platform::ITimer {
 public:
  QtTimer();
  void SetInterval(int ms) override;
  int Interval() const override { return timer_.interval(); }
  void Start() override;
  void Stop() override { timer_.stop(); }
  bool IsActive() const override { return timer_.isActive(); }
  void SetHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

 private:
  QTimer timer_;
  std::function<void()> handler_;
};

class QtTimerFactory : public platform::ITimerFactory {
 public:
  std::unique_ptr<platform::ITimer> CreateTimer() override { return std::make_unique<QtTimer>(); }
};

// The Qt event loop. RunFor and RunUntil run a nested QEventLoop.
class QtEventLoop : public platform::IEventLoop {
 public:
  void RunFor(int ms) override;
  bool RunUntil(const std::function<bool()>& done, int timeout_ms) override;
  void Post(int delay_ms, std::function<void()> task) override;

 private:
  // Context of posted tasks: a task still pending when the loop object goes away
  // is dropped.
  QObject context_;
};

// Qt has no system-wide hot keys. The registrations are recorded so that a
// window front end can map them to application-wide shortcuts (told of every
// change through SetBindingsChanged) and call Trigger() when one is pressed.
// Without a window (headless) they stay records.
class QtHotKeys : public platform::IHotKeys {
 public:
  struct Binding {
    unsigned modifiers = 0;
    char key = 0;
  };

  bool Register(int id, unsigned modifiers, char key) override;
  void Unregister(int id) override;
  void SetHandler(std::function<void(int id)> handler) override { handler_ = std::move(handler); }

  const std::map<int, Binding>& Bindings() const { return bindings_; }
  // Delivers a press of the hot key `id`; unknown identifiers are ignored.
  void Trigger(int id);
  // Called after every registration and release (null: nobody listens).
  void SetBindingsChanged(std::function<void()> listener) { changed_ = std::move(listener); }

 private:
  std::map<int, Binding> bindings_;
  std::function<void(int id)> handler_;
  std::function<void()> changed_;
};

// Every Qt service of one run. `demo` adds the in-process simulated tracker on
// port "DEMO"; `tracker_port` declares one more present tracker port.
class QtPlatform {
 public:
  QtPlatform(bool demo, const std::string& tracker_port);
  ~QtPlatform();
  QtPlatform(const QtPlatform&) = delete;
  QtPlatform& operator=(const QtPlatform&) = delete;

  // The platform structure; dialogs and clipboard are left to the front end.
  platform::Platform Services();

  QtClock clock;
  QtTimerFactory timers;
  QtEventLoop loop;
  QtHotKeys hotkeys;
  QtNetwork network;
  platform::LibArchiveZip archives;
  platform::StdIniFiles ini;  // plain files: nothing of Qt is needed
  std::unique_ptr<SerialPortRouter> serial;
  std::unique_ptr<QtDevices> devices;
};

}  // namespace rlv::qtp
