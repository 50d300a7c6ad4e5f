#include "VelloraCompanion/Model/WorkerQueue.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <future>
#include <string>

#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Chrome/ChromeExtensionDetector.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "tests/VelloraCore/Chrome/ChromeProfileFixture.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

// Threads made while it lives get a 512 KiB stack by default, as every thread but the main one
// gets on macOS. Only glibc lets a program change the default; elsewhere it is what it is.
class SmallDefaultThreadStack {
 public:
  static constexpr std::size_t kBytes = 512 * 1024;
  SmallDefaultThreadStack() {
#ifdef __GLIBC__
    if (::pthread_getattr_default_np(&previous_) != 0) return;
    pthread_attr_t small;
    ::pthread_attr_init(&small);
    ::pthread_attr_setstacksize(&small, kBytes);
    changed_ = ::pthread_setattr_default_np(&small) == 0;
    ::pthread_attr_destroy(&small);
#endif
  }
  ~SmallDefaultThreadStack() {
#ifdef __GLIBC__
    if (changed_) ::pthread_setattr_default_np(&previous_);
    ::pthread_attr_destroy(&previous_);
#endif
  }

 private:
#ifdef __GLIBC__
  pthread_attr_t previous_{};
  bool changed_ = false;
#endif
};

// The extension folder's manifest.json nests 1023 levels deep, one short of the reader's limit;
// reading it (and destroying what was read) recurses once per level. A thread of 512 KiB
// overflows its stack on that in a Debug build; the worker's thread must not.
TEST(WorkerQueueTest, theDetectorReadsADeeplyNestedManifestOnTheWorkerThread) {
  test::TemporaryDirectory home;
  const std::unique_ptr<FileSystem> fileSystem = makePosixFileSystem();
  const std::string extensionID(32, 'a');
  const std::string folder = home / "Downloads/unpacked";
  const int arrays = 1022;  // inside the manifest's own object
  home.writeFile(
      "Downloads/unpacked/manifest.json",
      R"({"name":"Vellora","deep":)" + std::string(arrays, '[') + std::string(arrays, ']') + "}");
  test::writeProfileFile(
      home, "Default", "Preferences",
      test::preferences(JSONValue::Object{{extensionID, test::extensionEntry(folder)}}));
  const ChromeExtensionDetector detector(
      AppPaths::platformLayout(home.path(), {}).chromeUserDataDirectory(), *fileSystem);

  std::promise<std::vector<ChromeExtensionCandidate>> found;
  {
    std::optional<WorkerQueue> worker;
    {
      SmallDefaultThreadStack smallStacks;
      worker.emplace();
    }
    worker->post([&] { found.set_value(detector.detectVelloraExtensions()); });
    std::future<std::vector<ChromeExtensionCandidate>> result = found.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    const std::vector<ChromeExtensionCandidate> candidates = result.get();
    ASSERT_EQ(candidates.size(), 1u);
    EXPECT_EQ(candidates.front().id, extensionID);
    EXPECT_EQ(candidates.front().name, "Vellora");
  }
}

}  // namespace
}  // namespace vellora
