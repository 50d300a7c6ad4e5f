#include "VelloraCore/Protocol/NativeMessageIO.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>

#include "VelloraCore/Platform/IOError.h"
#include "VelloraCore/Protocol/NativeMessageCodec.h"

namespace vellora {

namespace {

// Reads until `count` bytes have arrived or the input ends; returns how many arrived.
std::size_t readFully(int fd, char* buffer, std::size_t count) {
  std::size_t total = 0;
  while (total < count) {
    ssize_t n = ::read(fd, buffer + total, count - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw IOError("Could not read the Native Messaging input", errno);
    }
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
  }
  return total;
}

struct FreeDeleter {
  void operator()(char* p) const noexcept { std::free(p); }
};
using Buffer = std::unique_ptr<char, FreeDeleter>;

// The buffer starts small and doubles as bytes actually arrive, so a header that announces
// 4 GB followed by a few bytes never allocates 4 GB. It keeps JSON parse padding at its end.
constexpr std::size_t kInitialPayloadCapacity = 64 * 1024;

}  // namespace

std::optional<NativeEnvelope> NativeMessageIO::readEnvelope() {
  char header[NativeMessageCodec::kHeaderBytes];
  const std::size_t headerBytes = readFully(input_, header, sizeof header);
  if (headerBytes == 0) return std::nullopt;
  if (headerBytes < sizeof header) {
    throw NativeMessageCodecError(NativeMessageCodecError::Case::truncatedHeader);
  }
  const std::size_t length = NativeMessageCodec::payloadLength(header);

  std::size_t capacity = std::min(length, kInitialPayloadCapacity);
  Buffer buffer(static_cast<char*>(std::malloc(capacity + JSONValue::kParsePadding)));
  if (!buffer) throw std::bad_alloc();
  std::size_t received = 0;
  for (;;) {
    const std::size_t arrived = readFully(input_, buffer.get() + received, capacity - received);
    received += arrived;
    if (received == length) break;
    if (received < capacity) {
      throw NativeMessageCodecError(NativeMessageCodecError::Case::truncatedPayload);
    }
    capacity = std::min(length, capacity * 2);
    char* grown =
        static_cast<char*>(std::realloc(buffer.get(), capacity + JSONValue::kParsePadding));
    if (grown == nullptr) throw std::bad_alloc();
    buffer.release();
    buffer.reset(grown);
  }
  JSONValue value =
      JSONValue::parse(std::string_view(buffer.get(), length), capacity + JSONValue::kParsePadding);
  buffer.reset();
  return NativeEnvelope::fromJSON(std::move(value));
}

void NativeMessageIO::writeEnvelope(const NativeEnvelope& envelope) {
  const std::string frame = NativeMessageCodec::encodeFrame(envelope);
  std::string_view rest = frame;
  while (!rest.empty()) {
    ssize_t n = ::write(output_, rest.data(), rest.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw IOError("Could not write the Native Messaging output", errno);
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace vellora
