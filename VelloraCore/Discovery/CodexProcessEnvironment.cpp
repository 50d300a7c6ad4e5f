#include "VelloraCore/Discovery/CodexProcessEnvironment.h"

#include "VelloraCore/Discovery/CodexInstallDirectories.h"

namespace vellora {

namespace {

// The folder that holds `path`: "/opt/homebrew/bin/codex" -> "/opt/homebrew/bin",
// "/codex" -> "/", "codex" -> "" (nothing usable).
std::string parentDirectory(const std::string& path) {
  std::string trimmed = withoutTrailingSlashes(path);
  std::size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return trimmed.substr(0, slash);
}

}  // namespace

std::vector<std::string> splitSearchPath(const std::string& value) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = value.find(':', start);
    if (end == std::string::npos) end = value.size();
    if (end > start) pieces.push_back(value.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

CodexProcessEnvironment::CodexProcessEnvironment(std::string codexPath, Environment baseEnvironment,
                                                 std::string homeDirectory,
                                                 const FileSystem& fileSystem)
    : codexPath_(std::move(codexPath)),
      baseEnvironment_(std::move(baseEnvironment)),
      homeDirectory_(std::move(homeDirectory)),
      fileSystem_(&fileSystem) {}

std::vector<std::string> CodexProcessEnvironment::pathComponents() const {
  std::vector<std::string> components = {parentDirectory(codexPath_)};
  for (std::string& directory : codexInstallDirectories(homeDirectory_, *fileSystem_)) {
    components.push_back(std::move(directory));
  }
  if (auto inherited = baseEnvironment_.find("PATH"); inherited != baseEnvironment_.end()) {
    for (std::string& piece : splitSearchPath(inherited->second)) {
      components.push_back(std::move(piece));
    }
  }
  removeEmptyAndDuplicateEntries(components);
  return components;
}

Environment CodexProcessEnvironment::values() const {
  Environment values = baseEnvironment_;
  if (values["HOME"].empty()) {
    std::string home = withoutTrailingSlashes(homeDirectory_);
    values["HOME"] = home.empty() ? "/" : home;
  }
  std::string path;
  for (const std::string& component : pathComponents()) {
    if (!path.empty()) path += ':';
    path += component;
  }
  values["PATH"] = std::move(path);
  return values;
}

}  // namespace vellora
