#include "VelloraCore/Chrome/ChromeExtensionIDRefreshSampler.h"

#include <gtest/gtest.h>

namespace vellora {
namespace {

using IDs = std::vector<std::string>;

TEST(ChromeExtensionIDRefreshSamplerTest, samplesUntilTheStateChangesOrAttemptsRunOut) {
  const IDs found{std::string(32, 'a')};
  const struct {
    const char* label;
    std::optional<bool> previouslyReady;
    int attempts;
    int firstFoundCall;  // 1-based call from which the function finds the extension; 0: never
    int lostFromCall;    // 1-based call from which it no longer does; 0: never
    int expectedCalls;
    bool expectFound;
  } cases[] = {
      {"no previous state, found at once", std::nullopt, 20, 1, 0, 1, true},
      {"no previous state, found on the third call", std::nullopt, 20, 3, 0, 3, true},
      {"no previous state, never found", std::nullopt, 20, 0, 0, 21, false},
      {"previously missing, found on the second call", false, 48, 2, 0, 2, true},
      {"previously missing, never found", false, 3, 0, 0, 4, false},
      {"previously ready, stays found", true, 48, 1, 0, 49, true},
      {"previously ready, gone at once", true, 48, 0, 0, 1, false},
      {"previously ready, gone on the fourth call", true, 48, 1, 4, 4, false},
      {"no attempts", std::nullopt, 0, 0, 0, 1, false},
      {"no attempts while ready", true, 0, 1, 0, 1, true},
      {"negative attempts", std::nullopt, -3, 0, 0, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<double> pauses;
    int calls = 0;
    const ChromeExtensionIDRefreshSampler sampler{
        c.attempts, 0.25, [&](double seconds) { pauses.push_back(seconds); }};
    const IDs result = sampler.detect(c.previouslyReady, [&] {
      ++calls;
      const bool present = c.firstFoundCall != 0 && calls >= c.firstFoundCall &&
                           (c.lostFromCall == 0 || calls < c.lostFromCall);
      return present ? found : IDs{};
    });
    EXPECT_EQ(calls, c.expectedCalls);
    EXPECT_EQ(pauses, std::vector<double>(static_cast<std::size_t>(c.expectedCalls - 1), 0.25));
    EXPECT_EQ(result, c.expectFound ? found : IDs{});
  }
}

TEST(ChromeExtensionIDRefreshSamplerTest, returnsTheLastListProduced) {
  int calls = 0;
  const ChromeExtensionIDRefreshSampler sampler{2, 0.25, [](double) {}};
  const IDs result = sampler.detect(true, [&] { return IDs{std::to_string(++calls)}; });
  EXPECT_EQ(result, IDs{"3"});
}

}  // namespace
}  // namespace vellora
