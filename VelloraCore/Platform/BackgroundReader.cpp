#include "VelloraCore/Platform/BackgroundReader.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "VelloraCore/Platform/IOError.h"

namespace vellora {

BackgroundReader::BackgroundReader(std::unique_ptr<ByteStream> stream, Callback onBytes)
    : stream_(std::move(stream)), onBytes_(std::move(onBytes)) {
  int ends[2];
  if (::pipe(ends) != 0) throw IOError("Could not create a pipe", errno);
  wakeReader_ = ByteStream(ends[0]);
  wakeWriter_ = ByteStream(ends[1]);
  for (int fd : ends) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  thread_ = std::thread(&BackgroundReader::run, this);
}

BackgroundReader::~BackgroundReader() {
  stop();
}

void BackgroundReader::run() noexcept {
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    pollfd descriptors[2] = {{stream_->fileDescriptor(), POLLIN, 0},
                             {wakeReader_.fileDescriptor(), POLLIN, 0}};
    int ready = ::poll(descriptors, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (descriptors[1].revents != 0) return;  // stopped: not finished
    if (descriptors[0].revents == 0) continue;
    std::size_t count = 0;
    try {
      count = stream_->read(buffer.data(), buffer.size());
    } catch (const IOError&) {
      // A failing stream ends like a closed one.
    }
    if (count == 0) break;
    onBytes_(std::string_view(buffer.data(), count));
  }
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  finishedChanged_.notify_all();
}

bool BackgroundReader::waitUntilFinished(std::chrono::steady_clock::time_point deadline) noexcept {
  std::unique_lock lock(mutex_);
  return finishedChanged_.wait_until(lock, deadline, [&] { return finished_; });
}

void BackgroundReader::stop() noexcept {
  if (thread_.joinable()) {
    const char wake = 0;
    while (::write(wakeWriter_.fileDescriptor(), &wake, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  stream_.reset();
}

}  // namespace vellora
