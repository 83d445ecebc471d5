#pragma once

#include <coroutine>
#include <exception>
#include <utility>

namespace rlv::cli {

// A step of a command that may wait for the tracker: a coroutine that starts
// when it is awaited (or started by its owner) and hands its result to the
// step that awaits it. Several sessions' steps run side by side in the one
// event loop, each suspended while it waits (see DeviceSession::Until).
template <typename T>
class [[nodiscard]] Task {
 public:
  struct promise_type {
    T value{};
    std::exception_ptr error;
    std::coroutine_handle<> continuation;

    Task get_return_object() { return Task(std::coroutine_handle<promise_type>::from_promise(*this)); }
    std::suspend_always initial_suspend() noexcept { return {}; }
    auto final_suspend() noexcept {
      struct Resume {
        bool await_ready() noexcept { return false; }
        std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> done) noexcept {
          const std::coroutine_handle<> next = done.promise().continuation;
          return next ? next : std::noop_coroutine();
        }
        void await_resume() noexcept {}
      };
      return Resume{};
    }
    void return_value(T v) { value = std::move(v); }
    void unhandled_exception() { error = std::current_exception(); }
  };

  Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
  Task& operator=(Task&& other) noexcept {
    if (this != &other) {
      if (handle_) handle_.destroy();
      handle_ = std::exchange(other.handle_, {});
    }
    return *this;
  }
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task() {
    if (handle_) handle_.destroy();
  }

  // Runs the task until it first waits (or ends), for the owner of a top-level task.
  void Start() {
    if (handle_ && !handle_.done()) handle_.resume();
  }
  bool Done() const { return !handle_ || handle_.done(); }
  // The result of a task that is done; an escaped exception is thrown again.
  T Result() const {
    if (handle_.promise().error) std::rethrow_exception(handle_.promise().error);
    return handle_.promise().value;
  }

  bool await_ready() const noexcept { return Done(); }
  std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept {
    handle_.promise().continuation = awaiting;
    return handle_;
  }
  T await_resume() const { return Result(); }

 private:
  explicit Task(std::coroutine_handle<promise_type> handle) : handle_(handle) {}
  std::coroutine_handle<promise_type> handle_;
};

}  // namespace rlv::cli
