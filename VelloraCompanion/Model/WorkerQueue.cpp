#include "VelloraCompanion/Model/WorkerQueue.h"

#include <utility>

namespace vellora {

WorkerQueue::WorkerQueue() : thread_([this] { run(); }) {}

WorkerQueue::~WorkerQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    tasks_.clear();
  }
  wakeUp_.notify_all();
  thread_.join();
}

void WorkerQueue::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    tasks_.push_back(std::move(task));
  }
  wakeUp_.notify_one();
}

void WorkerQueue::run() {
  for (;;) {
    Task task;
    {
      std::unique_lock lock(mutex_);
      wakeUp_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
      if (stopping_) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

}  // namespace vellora
