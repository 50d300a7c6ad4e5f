#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vellora {

// Repeats a detection for a while, because Chrome writes its profile files some seconds after
// an extension is loaded or removed. It returns as soon as the result differs from the state
// seen at the previous check, or after `attempts` extra samples with the last result.
//
//   previouslyReady  returns when                           at most
//   (none)           the list is not empty                  1 + attempts calls
//   false            the list is not empty                  1 + attempts calls
//   true             the list is empty                      1 + attempts calls
struct ChromeExtensionIDRefreshSampler {
  // Extra samples after the first; a negative count is taken as 0.
  int attempts;
  // The pause before each extra sample, in seconds.
  double intervalSeconds;
  // Pauses for the given seconds; the companion blocks its worker thread here.
  std::function<void(double)> sleep;

  // Calls `detectIDs` once at once and then after each pause, as described above, and returns
  // the last list it produced. Blocks for the pauses; exceptions of the two functions pass
  // through.
  std::vector<std::string> detect(std::optional<bool> previouslyReady,
                                  const std::function<std::vector<std::string>()>& detectIDs) const;
};

}  // namespace vellora
