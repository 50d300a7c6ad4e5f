#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "VelloraCompanion/Model/Dispatch.h"

namespace vellora::test {

// A Dispatch that runs nothing by itself: the test runs queued main and worker tasks one at a
// time, and fires delayed items when it chooses, so no test waits for real time. Tasks may be
// posted from any thread.
class ManualDispatch final : public Dispatch {
 public:
  void postToMain(Task task) override;
  void postToWorker(Task task) override;
  std::unique_ptr<ScheduledWork> postToMainAfter(Seconds delay, Task task) override;

  // Runs the oldest task of the queue; false when it was empty.
  bool runMain();
  bool runWorker();
  // Runs main and worker tasks (not delayed items) until both queues are empty.
  void runAll();

  std::size_t pendingMain() const;
  std::size_t pendingWorker() const;
  // Delayed items that are neither cancelled nor fired.
  std::size_t pendingDelayed() const;
  // The delay of the oldest pending delayed item.
  std::optional<Seconds> nextDelay() const;
  // Runs the oldest pending delayed item as if its time had come; false when there is none.
  bool fireDelayed();

 private:
  struct Delayed {
    Delayed(Seconds d, Task t) : delay(d), task(std::move(t)) {}
    Seconds delay;
    Task task;
    std::atomic<bool> cancelled{false};
  };
  class Handle;

  std::optional<Task> take(std::deque<Task>& queue);
  void dropSettled();

  mutable std::mutex mutex_;
  std::deque<Task> main_;
  std::deque<Task> worker_;
  std::deque<std::shared_ptr<Delayed>> delayed_;
};

}  // namespace vellora::test
