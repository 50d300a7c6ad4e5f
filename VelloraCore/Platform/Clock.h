#pragma once

#include <chrono>

namespace vellora {

// A monotonic clock, passed in so that time-outs can be tested without waiting.
class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~Clock() = default;
  virtual TimePoint now() const noexcept = 0;
};

// The system's monotonic clock.
class SteadyClock final : public Clock {
 public:
  TimePoint now() const noexcept override { return std::chrono::steady_clock::now(); }
};

// Seconds as a 64-bit float, the unit of every time-out in the system.
using Seconds = std::chrono::duration<double>;

}  // namespace vellora
