#include "VelloraCore/Chrome/ChromeExtensionIDRefreshSampler.h"

namespace vellora {

std::vector<std::string> ChromeExtensionIDRefreshSampler::detect(
    std::optional<bool> previouslyReady,
    const std::function<std::vector<std::string>()>& detectIDs) const {
  // With no previous state there is nothing to change from but "not found yet".
  const bool waitingWhileFound = previouslyReady.value_or(false);
  std::vector<std::string> ids = detectIDs();
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (ids.empty() == waitingWhileFound) return ids;
    sleep(intervalSeconds);
    ids = detectIDs();
  }
  return ids;
}

}  // namespace vellora
