#include "VelloraCore/Protocol/NativeMessageIO.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

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

// A payload announced as at most kDirectReadBytes is read straight into one buffer of its
// size, which becomes part of the message (its longest string keeps it; see
// JSONValue::parseOwned). The buffer is only reserved up front and grows in pieces of
// kReadPieceBytes as bytes arrive, so a lying header costs address space, not memory, and
// each piece is zero-filled just before it is read into, while it is still in the cache. A
// longer one arrives in chunks that start small and double up to kMaxChunkBytes, so memory
// grows only as bytes actually arrive: a header announcing 4 GB followed by a few bytes never
// allocates 4 GB. Chunks are never reallocated (a growing buffer would leave copies behind in
// the heap); once the payload is complete they are moved into one buffer with JSON parse
// padding, each chunk freed as soon as it has been copied.
constexpr std::size_t kDirectReadBytes = 64 * 1024 * 1024;
constexpr std::size_t kReadPieceBytes = 256 * 1024;
constexpr std::size_t kFirstChunkBytes = 64 * 1024;
constexpr std::size_t kMaxChunkBytes = 8 * 1024 * 1024;

// A frame of several MiB is read into fresh memory, a page fault for each 4 KiB page touched:
// on Linux its buffer is marked for 2 MiB pages (a hint the kernel may ignore), which takes
// the faults from thousands to a few dozen. Only the whole huge pages inside the buffer are
// marked. Elsewhere nothing is done.
constexpr std::size_t kHugePageBytes = 2 * 1024 * 1024;
void adviseHugePages(char* buffer, std::size_t bytes) noexcept {
#if defined(MADV_HUGEPAGE)
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t first = (start + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  const std::uintptr_t end = (start + bytes) / kHugePageBytes * kHugePageBytes;
  if (end > first) (void)::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)buffer;
  (void)bytes;
#endif
}

struct Chunk {
  std::unique_ptr<char[]> bytes;
  std::size_t size;
};

}  // namespace

std::optional<NativeEnvelope> NativeMessageIO::readEnvelope() {
  flush();
  char header[NativeMessageCodec::kHeaderBytes];
  const std::size_t headerBytes = readFully(input_, header, sizeof header);
  if (headerBytes == 0) return std::nullopt;
  if (headerBytes < sizeof header) {
    throw NativeMessageCodecError(NativeMessageCodecError::Case::truncatedHeader);
  }
  const std::size_t length = NativeMessageCodec::payloadLength(header);

  std::string payload = length <= kDirectReadBytes ? readDirectly(length) : readInChunks(length);
  return NativeEnvelope::fromJSON(JSONValue::parseOwned(std::move(payload)));
}

std::string NativeMessageIO::readDirectly(std::size_t length) {
  std::string payload;
  payload.reserve(length + JSONValue::kParsePadding);
  adviseHugePages(payload.data(), payload.capacity());
  while (payload.size() < length) {
    const std::size_t at = payload.size();
    const std::size_t piece = std::min(kReadPieceBytes, length - at);
    payload.resize(at + piece);
    if (readFully(input_, payload.data() + at, piece) < piece) {
      throw NativeMessageCodecError(NativeMessageCodecError::Case::truncatedPayload);
    }
  }
  return payload;
}

std::string NativeMessageIO::readInChunks(std::size_t length) {
  std::vector<Chunk> chunks;
  std::size_t received = 0;
  std::size_t chunkBytes = kFirstChunkBytes;
  while (received < length) {
    const std::size_t size = std::min(chunkBytes, length - received);
    Chunk chunk{std::unique_ptr<char[]>(new char[size]), size};
    const std::size_t arrived = readFully(input_, chunk.bytes.get(), size);
    received += arrived;
    if (arrived < size) {
      throw NativeMessageCodecError(NativeMessageCodecError::Case::truncatedPayload);
    }
    chunks.push_back(std::move(chunk));
    chunkBytes = std::min(chunkBytes * 2, kMaxChunkBytes);
  }

  std::string payload;
  payload.reserve(length + JSONValue::kParsePadding);
  for (Chunk& chunk : chunks) {
    payload.append(chunk.bytes.get(), chunk.size);
    chunk.bytes.reset();
  }
  return payload;
}

void NativeMessageIO::writeEnvelope(const NativeEnvelope& envelope) {
  queueEnvelope(envelope);
  flush();
}

void NativeMessageIO::queueEnvelope(const NativeEnvelope& envelope) {
  const std::size_t start = queued_.size();
  if (NativeMessageCodec::appendFrame(queued_, envelope) > maxWritePayloadBytes_) {
    queued_.resize(start);
    throw NativeMessageCodecError(NativeMessageCodecError::Case::payloadTooLarge);
  }
}

void NativeMessageIO::flush() {
  std::string_view rest = queued_;
  while (!rest.empty()) {
    ssize_t n = ::write(output_, rest.data(), rest.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      queued_.clear();
      throw IOError("Could not write the Native Messaging output", error);
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  queued_.clear();
}

}  // namespace vellora
