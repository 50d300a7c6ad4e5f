#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "VelloraCore/Error.h"

namespace vellora {

// A file-system operation that failed; the description names the operation, path and cause.
class FileSystemError final : public Error {
 public:
  FileSystemError(std::string operation, std::string path, int errorNumber);
  const std::string& path() const noexcept { return path_; }
  int errorNumber() const noexcept { return errorNumber_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::string path_;
  int errorNumber_;
  std::string description_;
};

// The file-system service. The tests are checks and never throw; the rest throw FileSystemError.
// Paths are absolute POSIX paths.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Anything at the path, following links (a dangling link does not exist).
  virtual bool fileExists(const std::string& path) const noexcept = 0;
  // A directory, following links.
  virtual bool isDirectory(const std::string& path) const noexcept = 0;
  // A regular file, following links.
  virtual bool isRegularFile(const std::string& path) const noexcept = 0;
  // After following links, a regular file that the current user may execute. A directory is
  // never executable here, although it has search permission.
  virtual bool isExecutableFile(const std::string& path) const noexcept = 0;

  // Names in the directory, hidden ones (starting with ".") left out, sorted by byte order.
  virtual std::vector<std::string> contentsOfDirectory(const std::string& path) const = 0;
  // The whole file. A file longer than maxBytes fails with EFBIG without being read whole.
  // Only regular files are read (after following links); anything else (a FIFO, a device, a
  // socket) fails at once, never blocking.
  virtual std::string readFile(const std::string& path, std::size_t maxBytes) const = 0;
  // Replaces the file atomically: the data goes to a temporary file in the same directory,
  // which is then renamed over the path. A failure leaves no temporary file behind.
  virtual void writeFileAtomically(const std::string& path, std::string_view data) = 0;
  // Creates the directory and any missing parents; an existing directory is not an error.
  virtual void createDirectories(const std::string& path) = 0;
  // Copies a folder tree (files, folders and links) to a destination that does not exist yet.
  virtual void copyTree(const std::string& from, const std::string& to) = 0;
  // Removes a file or folder tree; a missing path is not an error.
  virtual void removeTree(const std::string& path) = 0;
  // Renames a file or folder within one file system in one step. Whatever is at `to` is
  // replaced when it is a file, or an empty folder and `from` is a folder; anything else there
  // makes the move fail.
  virtual void moveItem(const std::string& from, const std::string& to) = 0;

  // This process's current working directory, absolute.
  virtual std::string currentDirectory() const = 0;

  // Lexically standardised: duplicate slashes, "." and ".." components and a trailing slash
  // removed ("/a//b/./c/../d/" -> "/a/b/d"). Never touches the disk.
  static std::string standardizedPath(std::string_view path);
  // The standardised path with every symbolic link resolved. When the path does not exist, the
  // longest existing prefix is resolved and the rest appended.
  virtual std::string resolvingSymlinks(const std::string& path) const = 0;
};

std::unique_ptr<FileSystem> makePosixFileSystem();

}  // namespace vellora
