#include "VelloraCompanion/Qt/QtDispatch.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <utility>

namespace vellora {

namespace {

// A tasks' exception must not cross the event loop.
void runGuarded(const Dispatch::Task& task) {
  try {
    task();
  } catch (...) {
  }
}

// The handle of a single-shot timer owned by the main context.
class TimerWork final : public ScheduledWork {
 public:
  explicit TimerWork(QTimer* timer) : timer_(timer) {}
  void cancel() noexcept override {
    // The timer deletes itself once it has fired; a stopped timer never fires.
    if (timer_) {
      timer_->stop();
      timer_->deleteLater();
      timer_ = nullptr;
    }
  }

 private:
  QPointer<QTimer> timer_;
};

}  // namespace

QtDispatch::QtDispatch() : mainContext_(std::make_unique<QObject>()) {}

QtDispatch::~QtDispatch() = default;

void QtDispatch::postToMain(Task task) {
  QMetaObject::invokeMethod(
      mainContext_.get(), [task = std::move(task)] { runGuarded(task); }, Qt::QueuedConnection);
}

void QtDispatch::postToWorker(Task task) {
  worker_.post([task = std::move(task)] { runGuarded(task); });
}

std::unique_ptr<ScheduledWork> QtDispatch::postToMainAfter(Seconds delay, Task task) {
  auto* timer = new QTimer(mainContext_.get());
  timer->setSingleShot(true);
  timer->setTimerType(Qt::CoarseTimer);
  const double milliseconds = std::max(0.0, std::ceil(delay.count() * 1000.0));
  QObject::connect(timer, &QTimer::timeout, timer, [timer, task = std::move(task)] {
    timer->deleteLater();
    runGuarded(task);
  });
  timer->start(static_cast<int>(std::min(milliseconds, 2.0e9)));
  return std::make_unique<TimerWork>(timer);
}

}  // namespace vellora
