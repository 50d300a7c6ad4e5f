#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace vellora {

// A thread with an 8 MiB stack, whatever the system gives a thread by default (512 KiB on
// macOS, the stack limit on Linux). Threads that read JSON need it: a document may nest 1024
// levels deep, and reading, writing and destroying it recurse once per level. Like std::thread
// it must be joined or detached before it is destroyed.
class LargeStackThread {
 public:
  static constexpr std::size_t kStackBytes = 8 * 1024 * 1024;

  // No thread.
  LargeStackThread() noexcept = default;
  // Runs `body` on a new thread; `body` must not throw. Throws std::system_error when no
  // thread can be made.
  explicit LargeStackThread(std::function<void()> body);
  // Ends the program when still joinable, as std::thread does.
  ~LargeStackThread();
  LargeStackThread(LargeStackThread&& other) noexcept;
  LargeStackThread& operator=(LargeStackThread&& other) noexcept;
  LargeStackThread(const LargeStackThread&) = delete;
  LargeStackThread& operator=(const LargeStackThread&) = delete;

  bool joinable() const noexcept { return joinable_; }
  // Blocks until the body has returned.
  void join() noexcept;
  void detach() noexcept;

 private:
  pthread_t thread_{};
  bool joinable_ = false;
};

}  // namespace vellora
