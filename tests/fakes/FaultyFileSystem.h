#pragma once

#include <cerrno>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "VelloraCore/Platform/FileSystem.h"

namespace vellora::test {

// A file system that passes every call to a real one, except the calls it was told to fail:
// those throw FileSystemError with the chosen error number, as a full disk or a missing
// permission would, and change nothing.
class FaultyFileSystem final : public FileSystem {
 public:
  enum class Operation {
    readFile,
    writeFileAtomically,
    createDirectories,
    contentsOfDirectory,
    copyTree,  // matched on the source path
    moveItem,  // matched on the source path
  };

  explicit FaultyFileSystem(FileSystem& base) : base_(base) {}

  // From now on, `operation` on exactly `path` fails with `errorNumber`.
  void failOn(Operation operation, std::string path, int errorNumber = EIO) {
    failures_[{operation, std::move(path)}] = errorNumber;
  }

  bool fileExists(const std::string& path) const noexcept override;
  bool isDirectory(const std::string& path) const noexcept override;
  bool isRegularFile(const std::string& path) const noexcept override;
  bool isExecutableFile(const std::string& path) const noexcept override;
  std::vector<std::string> contentsOfDirectory(const std::string& path) const override;
  std::string readFile(const std::string& path, std::size_t maxBytes) const override;
  void writeFileAtomically(const std::string& path, std::string_view data) override;
  void createDirectories(const std::string& path) override;
  void copyTree(const std::string& from, const std::string& to) override;
  void removeTree(const std::string& path) override;
  std::string currentDirectory() const override { return base_.currentDirectory(); }
  void moveItem(const std::string& from, const std::string& to) override;
  std::string resolvingSymlinks(const std::string& path) const override;

 private:
  void failIfChosen(Operation operation, const std::string& path) const;

  FileSystem& base_;
  std::map<std::pair<Operation, std::string>, int> failures_;
};

}  // namespace vellora::test
