#include "VelloraCore/Discovery/CodexInstallDirectories.h"

#include <algorithm>
#include <unordered_set>

#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/LocalizedStandardOrder.h"

namespace vellora {

namespace {

std::vector<std::string> nodeVersionBinDirectories(const std::string& home,
                                                   const FileSystem& fileSystem) noexcept {
  const std::string root = home + "/.nvm/versions/node";
  std::vector<std::string> names;
  try {
    for (std::string& name : fileSystem.contentsOfDirectory(root)) {
      if (fileSystem.isDirectory(root + "/" + name)) names.push_back(std::move(name));
    }
    LocalizedStandardOrder order;
    // Newest first: a name comes first when it orders after the other.
    std::sort(names.begin(), names.end(),
              [&](const std::string& a, const std::string& b) { return order.compare(a, b) > 0; });
  } catch (...) {
    // A missing or unreadable folder (or no memory for the listing) only means no versions.
    return {};
  }
  std::vector<std::string> directories;
  directories.reserve(names.size());
  for (const std::string& name : names) directories.push_back(root + "/" + name + "/bin");
  return directories;
}

}  // namespace

std::string withoutTrailingSlashes(std::string path) {
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

void removeEmptyAndDuplicateEntries(std::vector<std::string>& entries) {
  std::unordered_set<std::string> seen;
  std::erase_if(entries, [&](const std::string& entry) {
    return entry.empty() || !seen.insert(entry).second;
  });
}

std::vector<std::string> codexInstallDirectories(const std::string& homeDirectory,
                                                 const FileSystem& fileSystem) noexcept {
  const std::string home = withoutTrailingSlashes(homeDirectory);
  std::vector<std::string> directories = {home + "/.codex/bin", home + "/.local/bin",
                                          home + "/.nvm/current/bin"};
  for (std::string& directory : nodeVersionBinDirectories(home, fileSystem)) {
    directories.push_back(std::move(directory));
  }
  directories.push_back(home + "/.nvm/versions/node/v20.20.0/bin");
  for (const char* fixed :
       {"/opt/homebrew/bin", "/usr/local/bin", "/usr/bin", "/bin", "/usr/sbin", "/sbin"}) {
    directories.emplace_back(fixed);
  }
  removeEmptyAndDuplicateEntries(directories);
  return directories;
}

}  // namespace vellora
