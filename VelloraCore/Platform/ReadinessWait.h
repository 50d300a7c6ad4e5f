#pragma once

#include <memory>
#include <optional>

#include "VelloraCore/Platform/Clock.h"

namespace vellora {

// How the one thread waits for a descriptor to become readable. The host's wait also serves
// its other inputs meanwhile (requests that arrive, other turns' output); the plain one only
// polls.
class ReadinessWait {
 public:
  virtual ~ReadinessWait() = default;
  // Blocks until `fileDescriptor` is readable (bytes, the end of the stream or an error) or the
  // monotonic `deadline` has passed (none: no limit). True when readable. May do other work on
  // this thread while it waits, and may throw to abandon the wait (the host does when its reader
  // is gone).
  virtual bool waitReadable(int fileDescriptor, std::optional<Clock::TimePoint> deadline) = 0;
};

// poll() on the one descriptor, with time from `clock`, which must outlive it.
std::unique_ptr<ReadinessWait> makePollReadinessWait(const Clock& clock);

// Milliseconds from now until `deadline` for poll(): -1 without one, 0 once it has passed.
int pollTimeout(const Clock& clock, std::optional<Clock::TimePoint> deadline) noexcept;

}  // namespace vellora
