#pragma once

#include <functional>
#include <memory>

#include "VelloraCore/Platform/Clock.h"

namespace vellora {

// A delayed main-queue item that can still be called off. Destroying the handle does not
// cancel the item.
class ScheduledWork {
 public:
  virtual ~ScheduledWork() = default;
  // After this returns on the main thread, the item never runs. Cancelling an item that has
  // already run, or cancelling twice, does nothing.
  virtual void cancel() noexcept = 0;
};

// The companion's queues: the main queue, which owns all of CompanionApp's state, and one
// serial worker queue on which the checks run one after another.
class Dispatch {
 public:
  using Task = std::function<void()>;
  virtual ~Dispatch() = default;

  // Runs `task` on the main thread after the current work, in the order posted. Any thread.
  virtual void postToMain(Task task) = 0;
  // Runs `task` on the worker queue, after every task posted there before it. Any thread.
  virtual void postToWorker(Task task) = 0;
  // Runs `task` on the main thread once `delay` has passed, unless it is cancelled first. Called
  // on the main thread.
  virtual std::unique_ptr<ScheduledWork> postToMainAfter(Seconds delay, Task task) = 0;
};

}  // namespace vellora
