#include "app/EventGate.h"

namespace rlv::app {

EventGate::StepId EventGate::Add(std::function<void()> step) {
  steps_.push_back(std::move(step));
  waiting_.push_back(false);
  return steps_.size() - 1;
}

void EventGate::Run(StepId id) {
  if (id >= steps_.size()) return;
  if (running_) {
    if (!waiting_[id]) {
      waiting_[id] = true;
      queue_.push_back(id);
    }
    return;
  }
  running_ = true;
  // A step can only be re-entered through a nested event loop, and that loop
  // finds the gate closed: each step below runs to its end before the next.
  for (;;) {
    steps_[id]();
    if (queue_.empty()) break;
    id = queue_.front();
    queue_.pop_front();
    waiting_[id] = false;
  }
  running_ = false;
}

}  // namespace rlv::app
