#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "VelloraCompanion/Model/Dispatch.h"
#include "VelloraCompanion/Model/WorkerQueue.h"

namespace vellora {

// A Dispatch for programs without a toolkit: the thread that calls run() is the main queue,
// and a WorkerQueue is the worker queue.
class EventLoopDispatch final : public Dispatch {
 public:
  EventLoopDispatch() = default;

  void postToMain(Task task) override;
  void postToWorker(Task task) override;
  std::unique_ptr<ScheduledWork> postToMainAfter(Seconds delay, Task task) override;

  // Runs main-queue tasks and due delayed items on the calling thread until stop() is called.
  void run();
  // Makes run() return after the task it is running. Any thread.
  void stop();

 private:
  struct Delayed;
  using TimePoint = std::chrono::steady_clock::time_point;

  std::mutex mutex_;
  std::condition_variable wakeUp_;
  std::deque<Task> tasks_;
  std::vector<std::shared_ptr<Delayed>> delayed_;
  bool stopping_ = false;
  WorkerQueue worker_;
};

}  // namespace vellora
