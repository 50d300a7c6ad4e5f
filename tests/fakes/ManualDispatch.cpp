#include "tests/fakes/ManualDispatch.h"

#include <algorithm>
#include <utility>

namespace vellora::test {

class ManualDispatch::Handle final : public ScheduledWork {
 public:
  explicit Handle(std::weak_ptr<Delayed> item) : item_(std::move(item)) {}
  void cancel() noexcept override {
    if (std::shared_ptr<Delayed> item = item_.lock()) item->cancelled = true;
  }

 private:
  std::weak_ptr<Delayed> item_;
};

void ManualDispatch::postToMain(Task task) {
  std::lock_guard lock(mutex_);
  main_.push_back(std::move(task));
}

void ManualDispatch::postToWorker(Task task) {
  std::lock_guard lock(mutex_);
  worker_.push_back(std::move(task));
}

std::unique_ptr<ScheduledWork> ManualDispatch::postToMainAfter(Seconds delay, Task task) {
  auto item = std::make_shared<Delayed>(delay, std::move(task));
  std::lock_guard lock(mutex_);
  delayed_.push_back(item);
  return std::make_unique<Handle>(item);
}

std::optional<Dispatch::Task> ManualDispatch::take(std::deque<Task>& queue) {
  std::lock_guard lock(mutex_);
  if (queue.empty()) return std::nullopt;
  Task task = std::move(queue.front());
  queue.pop_front();
  return task;
}

bool ManualDispatch::runMain() {
  std::optional<Task> task = take(main_);
  if (task) (*task)();
  return task.has_value();
}

bool ManualDispatch::runWorker() {
  std::optional<Task> task = take(worker_);
  if (task) (*task)();
  return task.has_value();
}

void ManualDispatch::runAll() {
  while (runMain() || runWorker()) {
  }
}

std::size_t ManualDispatch::pendingMain() const {
  std::lock_guard lock(mutex_);
  return main_.size();
}

std::size_t ManualDispatch::pendingWorker() const {
  std::lock_guard lock(mutex_);
  return worker_.size();
}

void ManualDispatch::dropSettled() {
  std::erase_if(delayed_, [](const auto& item) { return item->cancelled.load(); });
}

std::size_t ManualDispatch::pendingDelayed() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count_if(
      delayed_.begin(), delayed_.end(), [](const auto& item) { return !item->cancelled.load(); }));
}

std::optional<Seconds> ManualDispatch::nextDelay() const {
  std::lock_guard lock(mutex_);
  for (const auto& item : delayed_) {
    if (!item->cancelled) return item->delay;
  }
  return std::nullopt;
}

bool ManualDispatch::fireDelayed() {
  std::shared_ptr<Delayed> item;
  {
    std::lock_guard lock(mutex_);
    dropSettled();
    if (delayed_.empty()) return false;
    item = std::move(delayed_.front());
    delayed_.pop_front();
  }
  item->task();
  return true;
}

}  // namespace vellora::test
