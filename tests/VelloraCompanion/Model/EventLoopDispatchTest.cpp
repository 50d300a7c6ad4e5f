#include "VelloraCompanion/Model/EventLoopDispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace vellora {
namespace {

// Every loop here also holds a 30-second item that stops it, so a fault cannot hang the test.
class EventLoopDispatchTest : public ::testing::Test {
 protected:
  EventLoopDispatchTest() {
    watchdog_ = dispatch_.postToMainAfter(Seconds(30), [this] {
      events_ += "[watchdog]";
      dispatch_.stop();
    });
  }

  EventLoopDispatch dispatch_;
  std::unique_ptr<ScheduledWork> watchdog_;
  // Written only on the main thread.
  std::string events_;
};

TEST_F(EventLoopDispatchTest, workerResultsComeBackInOrderOnTheMainThread) {
  const std::thread::id mainThread = std::this_thread::get_id();
  for (int i = 1; i <= 3; ++i) {
    dispatch_.postToWorker([this, i, mainThread] {
      const bool onMain = std::this_thread::get_id() == mainThread;
      dispatch_.postToMain([this, i, onMain] {
        events_ += std::to_string(i) + (onMain ? "main " : "worker ");
        if (i == 3) dispatch_.stop();
      });
    });
  }
  dispatch_.run();
  EXPECT_EQ(events_, "1worker 2worker 3worker ");
}

TEST_F(EventLoopDispatchTest, delayedItemsRunWhenDueUnlessCancelled) {
  std::unique_ptr<ScheduledWork> cancelled =
      dispatch_.postToMainAfter(Seconds(0), [this] { events_ += "cancelled "; });
  cancelled->cancel();
  dispatch_.postToMainAfter(Seconds(0.01), [this] {
    events_ += "later ";
    dispatch_.stop();
  });
  dispatch_.postToMainAfter(Seconds(0), [this] { events_ += "due "; });
  dispatch_.postToMain([this] { events_ += "queued "; });
  dispatch_.run();
  EXPECT_EQ(events_, "queued due later ");

  // A cancelled watchdog never fires, and an item that already ran ignores a cancel.
  watchdog_->cancel();
  std::unique_ptr<ScheduledWork> ran = dispatch_.postToMainAfter(Seconds(0), [this] {
    events_ += "ran ";
    dispatch_.stop();
  });
  dispatch_.run();
  ran->cancel();
  EXPECT_EQ(events_, "queued due later ran ");
}

}  // namespace
}  // namespace vellora
