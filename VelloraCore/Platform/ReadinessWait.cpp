#include "VelloraCore/Platform/ReadinessWait.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace vellora {

namespace {

class PollReadinessWait final : public ReadinessWait {
 public:
  explicit PollReadinessWait(const Clock& clock) : clock_(clock) {}

  bool waitReadable(int fileDescriptor, std::optional<Clock::TimePoint> deadline) override {
    if (fileDescriptor < 0) return true;
    for (;;) {
      pollfd descriptor{fileDescriptor, POLLIN, 0};
      const int ready = ::poll(&descriptor, 1, pollTimeout(clock_, deadline));
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR) return true;  // the read reports the error
      if (ready == 0 && deadline && !(clock_.now() < *deadline)) return false;
    }
  }

 private:
  const Clock& clock_;
};

}  // namespace

std::unique_ptr<ReadinessWait> makePollReadinessWait(const Clock& clock) {
  return std::make_unique<PollReadinessWait>(clock);
}

int pollTimeout(const Clock& clock, std::optional<Clock::TimePoint> deadline) noexcept {
  if (!deadline) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - clock.now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
}

}  // namespace vellora
