#include "VelloraCore/Platform/ByteStream.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>

#include "VelloraCore/Platform/IOError.h"

namespace vellora {

ByteStream::~ByteStream() {
  close();
}

ByteStream::ByteStream(ByteStream&& other) noexcept
    : fileDescriptor_(std::exchange(other.fileDescriptor_, -1)) {}

ByteStream& ByteStream::operator=(ByteStream&& other) noexcept {
  if (this != &other) {
    close();
    fileDescriptor_ = std::exchange(other.fileDescriptor_, -1);
  }
  return *this;
}

bool ByteStream::waitReadable(std::chrono::milliseconds timeout) const noexcept {
  if (fileDescriptor_ < 0) return true;
  const bool forever = timeout.count() < 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int milliseconds = -1;
    if (!forever) {
      auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      milliseconds = static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
    }
    pollfd descriptor{fileDescriptor_, POLLIN, 0};
    int ready = ::poll(&descriptor, 1, milliseconds);
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return true;  // the read reports the error
  }
}

std::size_t ByteStream::read(char* buffer, std::size_t capacity) {
  for (;;) {
    ssize_t count = ::read(fileDescriptor_, buffer, capacity);
    if (count >= 0) return static_cast<std::size_t>(count);
    if (errno != EINTR) throw IOError("Could not read from pipe", errno);
  }
}

void ByteStream::writeAll(std::string_view data) {
  while (!data.empty()) {
    ssize_t written = ::write(fileDescriptor_, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      throw IOError("Could not write to pipe", errno);
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
}

void ByteStream::close() noexcept {
  // After close() the descriptor is gone even when it reports EINTR, so it is never retried.
  if (fileDescriptor_ >= 0) ::close(std::exchange(fileDescriptor_, -1));
}

void enlargePipeBuffer(int fileDescriptor) noexcept {
#if defined(F_SETPIPE_SZ)
  (void)::fcntl(fileDescriptor, F_SETPIPE_SZ, kLargePipeBytes);
#else
  (void)fileDescriptor;
#endif
}

}  // namespace vellora
