#pragma once

#include <functional>

namespace rlv::platform {

// The one event loop. Used by the automation front end to let time pass.
class IEventLoop {
 public:
  virtual ~IEventLoop() = default;
  // Delivers events for `ms` milliseconds, then returns.
  virtual void RunFor(int ms) = 0;
  // Delivers events until `done` returns true (checked after every event and at
  // least every 10 ms) or `timeout_ms` has passed. Returns the last value of `done`.
  virtual bool RunUntil(const std::function<bool()>& done, int timeout_ms) = 0;
  // Runs `task` once on the loop after `delay_ms`.
  virtual void Post(int delay_ms, std::function<void()> task) = 0;
};

}  // namespace rlv::platform
