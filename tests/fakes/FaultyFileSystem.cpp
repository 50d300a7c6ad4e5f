#include "tests/fakes/FaultyFileSystem.h"

namespace vellora::test {

void FaultyFileSystem::failIfChosen(Operation operation, const std::string& path) const {
  auto failure = failures_.find({operation, path});
  if (failure != failures_.end()) throw FileSystemError("Could not access", path, failure->second);
}

bool FaultyFileSystem::fileExists(const std::string& path) const noexcept {
  return base_.fileExists(path);
}

bool FaultyFileSystem::isDirectory(const std::string& path) const noexcept {
  return base_.isDirectory(path);
}

bool FaultyFileSystem::isRegularFile(const std::string& path) const noexcept {
  return base_.isRegularFile(path);
}

bool FaultyFileSystem::isExecutableFile(const std::string& path) const noexcept {
  return base_.isExecutableFile(path);
}

std::vector<std::string> FaultyFileSystem::contentsOfDirectory(const std::string& path) const {
  failIfChosen(Operation::contentsOfDirectory, path);
  return base_.contentsOfDirectory(path);
}

std::string FaultyFileSystem::readFile(const std::string& path, std::size_t maxBytes) const {
  failIfChosen(Operation::readFile, path);
  return base_.readFile(path, maxBytes);
}

void FaultyFileSystem::writeFileAtomically(const std::string& path, std::string_view data) {
  failIfChosen(Operation::writeFileAtomically, path);
  base_.writeFileAtomically(path, data);
}

void FaultyFileSystem::createDirectories(const std::string& path) {
  failIfChosen(Operation::createDirectories, path);
  base_.createDirectories(path);
}

void FaultyFileSystem::copyTree(const std::string& from, const std::string& to) {
  failIfChosen(Operation::copyTree, from);
  base_.copyTree(from, to);
}

void FaultyFileSystem::removeTree(const std::string& path) {
  base_.removeTree(path);
}

void FaultyFileSystem::moveItem(const std::string& from, const std::string& to) {
  failIfChosen(Operation::moveItem, from);
  base_.moveItem(from, to);
}

std::string FaultyFileSystem::resolvingSymlinks(const std::string& path) const {
  return base_.resolvingSymlinks(path);
}

}  // namespace vellora::test
