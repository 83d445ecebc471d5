#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace rlv::platform {

// A calendar date and time of day with milliseconds.
struct DateTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Wall clock and the blocking wait.
class IClock {
 public:
  virtual ~IClock() = default;
  virtual DateTime LocalNow() const = 0;
  virtual DateTime UtcNow() const = 0;
  // Blocks the calling (only) thread for `ms` milliseconds; no event is delivered meanwhile.
  virtual void Sleep(int ms) = 0;
};

// A periodic timer delivered on the event-loop thread. The interval may be
// changed while the timer runs; the next period then uses the new interval.
class ITimer {
 public:
  virtual ~ITimer() = default;
  virtual void SetInterval(int ms) = 0;
  virtual int Interval() const = 0;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual bool IsActive() const = 0;
  virtual void SetHandler(std::function<void()> handler) = 0;
};

class ITimerFactory {
 public:
  virtual ~ITimerFactory() = default;
  virtual std::unique_ptr<ITimer> CreateTimer() = 0;
};

}  // namespace rlv::platform
