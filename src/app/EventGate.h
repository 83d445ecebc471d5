#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <vector>

namespace rlv::app {

// Runs the program's event steps (timer ticks, bytes received from the port or
// the tunnel, device changes) one at a time. A modal dialog opened by a step
// runs a nested event loop that keeps delivering timers and reads; a step that
// arrives then is not run inside the first one: it is remembered, once however
// often it arrives, and run after the running step has returned, in the order
// the steps first arrived. The bytes behind a deferred read stay in their
// port's or socket's buffer, in order, until the read runs.
class EventGate {
 public:
  using StepId = size_t;

  // Registers a step; the id names it to Run.
  StepId Add(std::function<void()> step);
  // Runs step `id` now, or once the running step has returned.
  void Run(StepId id);

 private:
  // A deque: a step registered while another runs leaves the running one in place.
  std::deque<std::function<void()>> steps_;
  std::vector<bool> waiting_;
  std::deque<StepId> queue_;
  bool running_ = false;
};

}  // namespace rlv::app
