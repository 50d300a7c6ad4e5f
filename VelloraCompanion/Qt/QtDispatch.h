#pragma once

#include <memory>

#include "VelloraCompanion/Model/Dispatch.h"
#include "VelloraCompanion/Model/WorkerQueue.h"

class QObject;

namespace vellora {

// The companion's queues on Qt: the main queue is the Qt event loop of the thread that created
// this object (queued calls), delayed items are single-shot timers, and the worker queue is one
// thread of its own. Tasks run after the current event, in the order posted.
class QtDispatch final : public Dispatch {
 public:
  QtDispatch();
  // Drops the worker tasks not yet started and waits for the running one.
  ~QtDispatch() override;

  void postToMain(Task task) override;
  void postToWorker(Task task) override;
  std::unique_ptr<ScheduledWork> postToMainAfter(Seconds delay, Task task) override;

 private:
  // Lives on the main thread; queued calls and timers are delivered through it.
  std::unique_ptr<QObject> mainContext_;
  WorkerQueue worker_;
};

}  // namespace vellora
