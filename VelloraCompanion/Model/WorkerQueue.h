#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "VelloraCore/Platform/LargeStackThread.h"

namespace vellora {

// One worker thread that runs posted tasks in order, one at a time: the companion's serial
// status queue. Tasks must not throw. The thread has a large stack: the checks read JSON files
// (profiles, extension manifests) that may nest deeply.
class WorkerQueue {
 public:
  using Task = std::function<void()>;

  WorkerQueue();
  // Drops the tasks that have not started, waits for the running one and ends the thread.
  ~WorkerQueue();
  WorkerQueue(const WorkerQueue&) = delete;
  WorkerQueue& operator=(const WorkerQueue&) = delete;

  // Any thread.
  void post(Task task);

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable wakeUp_;
  std::deque<Task> tasks_;
  bool stopping_ = false;
  LargeStackThread thread_;
};

}  // namespace vellora
