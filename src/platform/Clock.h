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

// A wall-clock date and time as seconds since 1970-01-01 00:00:00 of the same
// calendar, with no time-zone conversion; milliseconds are dropped.
inline int64_t SecondsSince1970(const DateTime& t) {
  const int64_t y = t.year - (t.month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t m = t.month;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
  const int64_t days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

// Wall clock and the blocking wait.
class IClock {
 public:
  virtual ~IClock() = default;
  virtual DateTime LocalNow() const = 0;
  virtual DateTime UtcNow() const = 0;
  // Blocks the calling (only) thread for `ms` milliseconds; no event is delivered meanwhile.
  virtual void Sleep(int ms) = 0;
  // Milliseconds of a clock that never goes back, from an arbitrary start.
  virtual int64_t SteadyMs() const = 0;
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
