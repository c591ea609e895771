#pragma once

// The one way the tool runs work on a second thread: a Worker starts its function on a
// std::jthread when it is made and is joined when its result is taken, when it is stopped, or
// at the latest when the object goes. No thread outlives its Worker, none is detached.
//
// The function gets a std::stop_token; Stop() asks it to end (it looks at the token where it
// can wait long) and joins. What the function raised is raised again by Get(). A Worker is
// made and waited for on one thread; the function must not touch what that thread uses
// meanwhile, and is given absolute paths only (the process's current directory may change
// while it runs).

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>

template <class R = void>
class Worker {
  public:
    using Result = std::conditional_t<std::is_void_v<R>, std::monostate, R>;

    template <class F>
    explicit Worker(F&& f)
        : thread_([this, f = std::forward<F>(f)](std::stop_token token) mutable {
              try {
                  if constexpr (std::is_void_v<R>) {
                      if constexpr (std::is_invocable_v<F&, std::stop_token>)
                          f(token);
                      else
                          f();
                      result_.emplace();
                  } else {
                      if constexpr (std::is_invocable_v<F&, std::stop_token>)
                          result_.emplace(f(token));
                      else
                          result_.emplace(f());
                  }
              } catch (...) {
                  error_ = std::current_exception();
              }
              const std::lock_guard lock(mutex_);
              done_ = true;
              ended_.notify_all();
          }) {}

    ~Worker() { Stop(); }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Whether the function has ended (its result or failure is then ready).
    bool Done() const {
        const std::lock_guard lock(mutex_);
        return done_;
    }
    // Waits at most `timeout` for the function to end; whether it has.
    bool WaitFor(std::chrono::milliseconds timeout) const {
        std::unique_lock lock(mutex_);
        return ended_.wait_for(lock, timeout, [this] { return done_; });
    }
    // Joins the thread; the function's result, or what it raised. Once only.
    R Get() {
        Join();
        if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
        if constexpr (!std::is_void_v<R>) return std::move(*result_);
    }
    // Asks the function to end and joins it; what it raised is dropped.
    void Stop() {
        if (!thread_.joinable()) return;
        thread_.request_stop();
        Join();
    }

  private:
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable ended_;
    bool done_ = false;
    std::optional<Result> result_;
    std::exception_ptr error_;
    std::jthread thread_;  // last: started once everything above exists, joined first
};
