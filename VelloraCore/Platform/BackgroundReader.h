#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "VelloraCore/Platform/ByteStream.h"

namespace vellora {

// Drains a stream on a thread of its own, handing each chunk to a callback as soon as it
// arrives, until the stream ends or the reader is stopped. Used for a child's standard error,
// so that the child never stalls on a full pipe.
class BackgroundReader {
 public:
  // Called on the reader's thread with each chunk read; it must not throw.
  using Callback = std::function<void(std::string_view bytes)>;

  // Takes the stream and starts the thread. Throws IOError or std::system_error when the
  // thread cannot be set up.
  BackgroundReader(std::unique_ptr<ByteStream> stream, Callback onBytes);
  // stop()
  ~BackgroundReader();
  BackgroundReader(const BackgroundReader&) = delete;
  BackgroundReader& operator=(const BackgroundReader&) = delete;

  // Blocks until the stream has ended and every byte has been handed to the callback, or until
  // the monotonic clock reaches `deadline`. True when it has ended.
  bool waitUntilFinished(std::chrono::steady_clock::time_point deadline) noexcept;

  // Stops reading, closes the stream and joins the thread. Returns promptly: it never waits for
  // the stream's writer. Bytes not yet read are dropped. Stopping twice is harmless.
  void stop() noexcept;

 private:
  void run() noexcept;

  std::unique_ptr<ByteStream> stream_;
  Callback onBytes_;
  // Written to by stop() to wake the thread out of poll().
  ByteStream wakeReader_{-1};
  ByteStream wakeWriter_{-1};
  std::mutex mutex_;
  std::condition_variable finishedChanged_;
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace vellora
