// The host's own operator new and delete (Linux). Chrome's largest message is 64 MiB, and
// relaying one means receiving it, parsing it and building the turn from it: a few blocks of
// tens of MiB, each touched once. Touching fresh memory 4 KiB at a time costs a page fault per
// page, which dominates that relay on virtual machines. Blocks of kLargeBytes or more therefore
// come straight from the system, aligned to and marked for 2 MiB pages (a hint the kernel may
// ignore). A freed block is kept for the next large request it fits (relaying one message
// frees the received bytes just before the turn's input, about as large, is built), its pages
// handed back lazily (MADV_FREE: the kernel takes them only when memory is short, and reuse
// touches no fresh page meanwhile); beyond kCachedBlocks it goes back to the system. Everything
// smaller is malloc's, as before.
//
// Not built under the sanitizers (they bring their own allocator) nor on macOS, whose allocator
// already hands large blocks out as whole, lazily mapped regions.
#if defined(__linux__)

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define VELLORA_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VELLORA_SANITIZED 1
#endif

#if !defined(VELLORA_SANITIZED)

#include <sys/mman.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kLargeBytes = 4 * 1024 * 1024;
constexpr std::size_t kHugePageBytes = 2 * 1024 * 1024;

// The large blocks that are live, so that delete (which may not know the size) can tell them
// from malloc's. A few at a time at most; when every slot is taken, malloc serves.
constexpr int kSlots = 64;
struct Slot {
  std::atomic<std::uintptr_t> address{0};
  std::size_t length = 0;
};
Slot slots[kSlots];
std::atomic<int> liveBlocks{0};
constexpr std::uintptr_t kClaimed = 1;

// Freed blocks kept for reuse, under a spin lock (large blocks come and go rarely).
constexpr int kCachedBlocks = 2;
struct CachedBlock {
  std::uintptr_t address = 0;
  std::size_t length = 0;
};
CachedBlock cache[kCachedBlocks];
std::atomic_flag cacheLock = ATOMIC_FLAG_INIT;

struct CacheGuard {
  CacheGuard() {
    while (cacheLock.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~CacheGuard() { cacheLock.clear(std::memory_order_release); }
};

// A cached block of at least `length` bytes and not much more, taken out of the cache.
CachedBlock takeCached(std::size_t length) {
  CacheGuard guard;
  CachedBlock* best = nullptr;
  for (CachedBlock& block : cache) {
    if (block.address == 0 || block.length < length || block.length > 2 * length) continue;
    if (best == nullptr || block.length < best->length) best = &block;
  }
  if (best == nullptr) return {};
  const CachedBlock taken = *best;
  *best = {};
  return taken;
}

// Keeps a freed block for reuse; false when the cache is full.
bool cacheBlock(std::uintptr_t address, std::size_t length) {
  CacheGuard guard;
  for (CachedBlock& block : cache) {
    if (block.address != 0) continue;
    ::madvise(reinterpret_cast<void*>(address), length, MADV_FREE);
    block = {address, length};
    return true;
  }
  return false;
}

// Records a live block; false when every slot is taken.
bool track(std::uintptr_t address, std::size_t length) {
  for (Slot& slot : slots) {
    std::uintptr_t expected = 0;
    if (!slot.address.compare_exchange_strong(expected, kClaimed, std::memory_order_acquire)) {
      continue;
    }
    slot.length = length;
    liveBlocks.fetch_add(1, std::memory_order_relaxed);
    slot.address.store(address, std::memory_order_release);
    return true;
  }
  return false;
}

void* mapLarge(std::size_t size) {
  if (size > SIZE_MAX - 2 * kHugePageBytes) return nullptr;
  const std::size_t length = (size + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  if (const CachedBlock cached = takeCached(length); cached.address != 0) {
    if (track(cached.address, cached.length)) return reinterpret_cast<void*>(cached.address);
    ::munmap(reinterpret_cast<void*>(cached.address), cached.length);
    return nullptr;
  }
  // Mapped one huge page longer, then trimmed to a huge-page boundary at both ends.
  void* mapped = ::mmap(nullptr, length + kHugePageBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  if (aligned > start) ::munmap(mapped, aligned - start);
  const std::uintptr_t end = start + length + kHugePageBytes;
  if (end > aligned + length)
    ::munmap(reinterpret_cast<void*>(aligned + length), end - aligned - length);
  ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
  if (track(aligned, length)) return reinterpret_cast<void*>(aligned);
  ::munmap(reinterpret_cast<void*>(aligned), length);
  return nullptr;
}

// True when `pointer` was one of ours (and is now cached or unmapped).
bool unmapLarge(void* pointer) noexcept {
  if (liveBlocks.load(std::memory_order_acquire) == 0) return false;
  const auto address = reinterpret_cast<std::uintptr_t>(pointer);
  if (address % kHugePageBytes != 0) return false;
  for (Slot& slot : slots) {
    if (slot.address.load(std::memory_order_acquire) != address) continue;
    const std::size_t length = slot.length;
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    slot.address.store(0, std::memory_order_release);
    if (!cacheBlock(address, length)) ::munmap(pointer, length);
    return true;
  }
  return false;
}

void* allocate(std::size_t size) {
  if (size >= kLargeBytes) {
    if (void* block = mapLarge(size)) return block;
  }
  if (size == 0) size = 1;
  for (;;) {
    if (void* block = std::malloc(size)) return block;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void release(void* pointer) noexcept {
  if (pointer == nullptr || unmapLarge(pointer)) return;
  std::free(pointer);
}

}  // namespace

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* pointer) noexcept {
  release(pointer);
}
void operator delete[](void* pointer) noexcept {
  release(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
  release(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
  release(pointer);
}
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
  release(pointer);
}
void operator delete[](void* pointer, const std::nothrow_t&) noexcept {
  release(pointer);
}

#endif  // !VELLORA_SANITIZED
#endif  // __linux__
