#include "VelloraCompanion/Qt/QtDispatch.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <string>
#include <thread>

#include "tests/VelloraCompanion/Qt/OffscreenApplication.h"

namespace vellora {
namespace {

// Runs the event loop until `done` is called or ten seconds pass; false on the time-out.
bool runUntilDone(const std::function<void(std::function<void()>)>& start) {
  QEventLoop loop;
  bool finished = false;
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  deadline.start(10000);
  start([&] {
    finished = true;
    loop.quit();
  });
  if (!finished) loop.exec();
  return finished;
}

TEST(QtDispatchTest, mainTasksRunInOrderAfterTheCurrentWorkAndWorkerResultsComeBackToMain) {
  test::ensureOffscreenApplication();
  QtDispatch dispatch;
  const std::thread::id mainThread = std::this_thread::get_id();
  std::string order;
  std::thread::id workerThread;
  std::thread::id resultThread;
  ASSERT_TRUE(runUntilDone([&](std::function<void()> done) {
    dispatch.postToMain([&] { order += "a"; });
    dispatch.postToMain([&] { order += "b"; });
    order += "posted ";
    dispatch.postToWorker([&, done] {
      workerThread = std::this_thread::get_id();
      dispatch.postToMain([&, done] {
        resultThread = std::this_thread::get_id();
        done();
      });
    });
  }));
  EXPECT_EQ(order, "posted ab");
  EXPECT_NE(workerThread, mainThread);
  EXPECT_EQ(resultThread, mainThread);
}

TEST(QtDispatchTest, aCancelledDelayedItemNeverRunsAndTheOthersRunOnTheMainThread) {
  test::ensureOffscreenApplication();
  QtDispatch dispatch;
  bool cancelledRan = false;
  std::string ran;
  ASSERT_TRUE(runUntilDone([&](std::function<void()> done) {
    std::unique_ptr<ScheduledWork> cancelled =
        dispatch.postToMainAfter(Seconds(0.01), [&] { cancelledRan = true; });
    cancelled->cancel();
    cancelled->cancel();  // twice does nothing
    std::shared_ptr<std::unique_ptr<ScheduledWork>> kept =
        std::make_shared<std::unique_ptr<ScheduledWork>>();
    *kept = dispatch.postToMainAfter(Seconds(0.05), [&, done, kept] {
      ran += "late";
      // Cancelling an item that has already run does nothing.
      (*kept)->cancel();
      done();
    });
    // Dropping the handle does not cancel the item.
    dispatch.postToMainAfter(Seconds(0.02), [&] { ran += "early "; });
  }));
  EXPECT_EQ(ran, "early late");
  EXPECT_FALSE(cancelledRan);
}

}  // namespace
}  // namespace vellora
