// The host's own operator new and delete, linked into this test program alone (as into the host):
// large blocks from several threads at once, more live blocks than it tracks, and every form of
// new and delete. A block handed out twice, or given back while still in use, shows as another
// thread's bytes in it.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// Writes `mark` at the start, middle and end of the block (touching three pages, not all).
void stamp(char* block, std::size_t size, char mark) {
  block[0] = mark;
  block[size / 2] = mark;
  block[size - 1] = mark;
}

bool stamped(const char* block, std::size_t size, char mark) {
  return block[0] == mark && block[size / 2] == mark && block[size - 1] == mark;
}

TEST(LargeAllocationsTest, ThreadsNeverShareALiveBlock) {
  // Below, at and above the size from which blocks come from the system, and Chrome's largest
  // message.
  const std::size_t sizes[] = {1, 4 * kMiB - 1, 4 * kMiB, 6 * kMiB + 3, 64 * kMiB, 100};
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        std::vector<std::unique_ptr<char[]>> held;
        for (std::size_t size : sizes) {
          held.emplace_back(new char[size]);
          stamp(held.back().get(), size, static_cast<char>('a' + t));
        }
        std::this_thread::yield();
        for (std::size_t i = 0; i < held.size(); ++i) {
          if (!stamped(held[i].get(), sizes[i], static_cast<char>('a' + t))) ++failures[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

TEST(LargeAllocationsTest, MoreLiveBlocksThanItTracksStayUsable) {
  // Beyond the blocks it tracks, malloc serves; each block is still its own, and freeing them in
  // either order gives every one back.
  for (bool reverse : {false, true}) {
    std::vector<std::unique_ptr<char[]>> blocks;
    for (int i = 0; i < 80; ++i) {
      blocks.emplace_back(new char[4 * kMiB]);
      stamp(blocks.back().get(), 4 * kMiB, static_cast<char>(i));
    }
    for (int i = 0; i < 80; ++i) {
      EXPECT_TRUE(stamped(blocks[i].get(), 4 * kMiB, static_cast<char>(i))) << i;
    }
    if (reverse) {
      while (!blocks.empty()) blocks.pop_back();
    }
  }
}

TEST(LargeAllocationsTest, EveryFormOfNewAndDeleteHandsOutAlignedUsableBlocks) {
  for (std::size_t size : {std::size_t{0}, std::size_t{24}, 5 * kMiB}) {
    SCOPED_TRACE(size);
    void* plain = ::operator new(size);
    void* array = ::operator new[](size);
    void* nothrow = ::operator new(size, std::nothrow);
    void* nothrowArray = ::operator new[](size, std::nothrow);
    for (void* block : {plain, array, nothrow, nothrowArray}) {
      ASSERT_NE(block, nullptr);
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % __STDCPP_DEFAULT_NEW_ALIGNMENT__, 0u);
      if (size > 0) stamp(static_cast<char*>(block), size, 'x');
    }
#if defined(__cpp_sized_deallocation)  // clang leaves the sized forms off unless asked
    ::operator delete(plain, size);
    ::operator delete[](array, size);
#else
    ::operator delete(plain);
    ::operator delete[](array);
#endif
    ::operator delete(nothrow, std::nothrow);
    ::operator delete[](nothrowArray, std::nothrow);
  }
}

}  // namespace
