#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

namespace vellora {

// One end of a pipe (or any file descriptor), owned: the descriptor is closed at destruction.
// Blocking reads and writes; one thread reads and one thread writes at a time.
class ByteStream {
 public:
  // Takes ownership of `fileDescriptor`.
  explicit ByteStream(int fileDescriptor) noexcept : fileDescriptor_(fileDescriptor) {}
  ~ByteStream();
  ByteStream(ByteStream&& other) noexcept;
  ByteStream& operator=(ByteStream&& other) noexcept;
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;

  // The descriptor, for poll(); -1 once closed.
  int fileDescriptor() const noexcept { return fileDescriptor_; }
  bool isOpen() const noexcept { return fileDescriptor_ >= 0; }

  // Blocks until a read would not block (bytes, the end of the stream or an error are there)
  // or `timeout` has passed; a negative `timeout` waits without limit. True when readable.
  bool waitReadable(std::chrono::milliseconds timeout) const noexcept;
  // Blocks until at least one byte is available, then reads at most `capacity` bytes into
  // `buffer`. Returns the count, or 0 at the end of the stream. Throws IOError.
  std::size_t read(char* buffer, std::size_t capacity);
  // Writes every byte, however many system calls that takes. Throws IOError; a pipe whose
  // reader is gone fails with EPIPE when SIGPIPE is ignored (the programs ignore it).
  void writeAll(std::string_view data);
  // Closes the descriptor; later reads and writes fail with EBADF. Closing twice is harmless.
  void close() noexcept;

 private:
  int fileDescriptor_;
};

// Asks for a pipe buffer of kLargePipeBytes on the pipe `fileDescriptor` is an end of, so that a
// message of tens of MiB crosses in fewer, larger copies and wake-ups. Only where the system
// lets a program size its pipes (Linux, F_SETPIPE_SZ, up to /proc/sys/fs/pipe-max-size); macOS
// sizes them itself. Anything that is not a pipe, or a refusal, leaves the buffer as it was.
inline constexpr int kLargePipeBytes = 1024 * 1024;
void enlargePipeBuffer(int fileDescriptor) noexcept;

}  // namespace vellora
