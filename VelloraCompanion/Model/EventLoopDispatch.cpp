#include "VelloraCompanion/Model/EventLoopDispatch.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace vellora {

// A delayed item; the list that holds it is guarded by the dispatch's mutex, and a handle may
// cancel it from any thread.
struct EventLoopDispatch::Delayed {
  TimePoint due;
  Task task;
  std::atomic<bool> cancelled{false};
};

namespace {

class DelayedHandle final : public ScheduledWork {
 public:
  DelayedHandle(std::weak_ptr<void> item, std::atomic<bool>* cancelled)
      : item_(std::move(item)), cancelled_(cancelled) {}
  void cancel() noexcept override {
    if (std::shared_ptr<void> alive = item_.lock()) *cancelled_ = true;
  }

 private:
  std::weak_ptr<void> item_;
  std::atomic<bool>* cancelled_;
};

}  // namespace

void EventLoopDispatch::postToMain(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wakeUp_.notify_one();
}

void EventLoopDispatch::postToWorker(Task task) {
  worker_.post(std::move(task));
}

std::unique_ptr<ScheduledWork> EventLoopDispatch::postToMainAfter(Seconds delay, Task task) {
  auto item = std::make_shared<Delayed>();
  item->due = std::chrono::steady_clock::now() +
              std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay);
  item->task = std::move(task);
  auto handle = std::make_unique<DelayedHandle>(item, &item->cancelled);
  {
    std::lock_guard lock(mutex_);
    delayed_.push_back(std::move(item));
  }
  wakeUp_.notify_one();
  return handle;
}

void EventLoopDispatch::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wakeUp_.notify_all();
}

void EventLoopDispatch::run() {
  for (;;) {
    Task task;
    {
      std::unique_lock lock(mutex_);
      for (;;) {
        if (stopping_) {
          stopping_ = false;
          return;
        }
        std::erase_if(delayed_, [](const auto& item) { return item->cancelled.load(); });
        if (!tasks_.empty()) {
          task = std::move(tasks_.front());
          tasks_.pop_front();
          break;
        }
        const auto earliest =
            std::min_element(delayed_.begin(), delayed_.end(),
                             [](const auto& a, const auto& b) { return a->due < b->due; });
        if (earliest == delayed_.end()) {
          wakeUp_.wait(lock);
        } else if ((*earliest)->due <= std::chrono::steady_clock::now()) {
          task = std::move((*earliest)->task);
          delayed_.erase(earliest);
          break;
        } else {
          wakeUp_.wait_until(lock, (*earliest)->due);
        }
      }
    }
    task();
  }
}

}  // namespace vellora
