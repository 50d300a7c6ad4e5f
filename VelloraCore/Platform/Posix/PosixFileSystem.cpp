#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "VelloraCore/Platform/FileSystem.h"

namespace vellora {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string joinPath(const std::string& directory, const std::string& name) {
  if (!directory.empty() && directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

void writeAll(int fd, std::string_view data, const std::string& path) {
  while (!data.empty()) {
    ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      throw FileSystemError("Could not write", path, errno);
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
}

// What reading something other than a regular file fails with.
#ifdef EFTYPE
constexpr int kNotARegularFile = EFTYPE;
#else
constexpr int kNotARegularFile = EINVAL;
#endif

class PosixFileSystem final : public FileSystem {
 public:
  bool fileExists(const std::string& path) const noexcept override {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
  }

  bool isDirectory(const std::string& path) const noexcept override {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }

  bool isRegularFile(const std::string& path) const noexcept override {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  }

  bool isExecutableFile(const std::string& path) const noexcept override {
    return isRegularFile(path) && ::access(path.c_str(), X_OK) == 0;
  }

  std::vector<std::string> contentsOfDirectory(const std::string& path) const override {
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr) throw FileSystemError("Could not list", path, errno);
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(directory)) {
      if (entry->d_name[0] == '.') continue;
      names.emplace_back(entry->d_name);
    }
    ::closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string readFile(const std::string& path, std::size_t maxBytes) const override {
    // Paths can come from files and pages that others control: a FIFO or a device there must
    // never block the caller. Opening without blocking and judging the opened descriptor (not
    // the path, which could change in between) leaves only regular files to read.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) throw FileSystemError("Could not open", path, errno);
    struct stat info;
    if (::fstat(fd.get(), &info) != 0) throw FileSystemError("Could not read", path, errno);
    if (S_ISDIR(info.st_mode)) throw FileSystemError("Could not read", path, EISDIR);
    if (!S_ISREG(info.st_mode)) throw FileSystemError("Could not read", path, kNotARegularFile);
    if (static_cast<std::size_t>(info.st_size) > maxBytes) {
      throw FileSystemError("Could not read", path, EFBIG);
    }
    std::string contents;
    contents.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
      ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
      if (count < 0) {
        if (errno == EINTR) continue;
        throw FileSystemError("Could not read", path, errno);
      }
      if (count == 0) break;
      if (contents.size() + static_cast<std::size_t>(count) > maxBytes) {
        throw FileSystemError("Could not read", path, EFBIG);
      }
      contents.append(buffer, static_cast<std::size_t>(count));
    }
    return contents;
  }

  void writeFileAtomically(const std::string& path, std::string_view data) override {
    std::string temporary = path + ".XXXXXX";
    int raw = ::mkstemp(temporary.data());
    if (raw < 0) throw FileSystemError("Could not write", path, errno);
    ::fcntl(raw, F_SETFD, FD_CLOEXEC);
    try {
      FileDescriptor fd(raw);
      if (::fchmod(fd.get(), 0644) != 0) throw FileSystemError("Could not write", path, errno);
      writeAll(fd.get(), data, path);
      if (::fsync(fd.get()) != 0) throw FileSystemError("Could not write", path, errno);
      if (::rename(temporary.c_str(), path.c_str()) != 0) {
        throw FileSystemError("Could not write", path, errno);
      }
    } catch (...) {
      ::unlink(temporary.c_str());
      throw;
    }
  }

  void createDirectories(const std::string& path) override {
    std::string standardized = standardizedPath(path);
    std::size_t position = 0;
    while (position != std::string::npos) {
      position = standardized.find('/', position + 1);
      std::string prefix = standardized.substr(0, position);
      if (prefix.empty()) continue;
      if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
        throw FileSystemError("Could not create directory", prefix, errno);
      }
    }
    if (!isDirectory(standardized)) {
      throw FileSystemError("Could not create directory", standardized, ENOTDIR);
    }
  }

  void copyTree(const std::string& from, const std::string& to) override {
    struct stat info;
    if (::lstat(from.c_str(), &info) != 0) throw FileSystemError("Could not copy", from, errno);
    if (S_ISLNK(info.st_mode)) {
      char target[PATH_MAX];
      ssize_t length = ::readlink(from.c_str(), target, sizeof target);
      if (length < 0) throw FileSystemError("Could not copy", from, errno);
      if (::symlink(std::string(target, static_cast<std::size_t>(length)).c_str(), to.c_str())) {
        throw FileSystemError("Could not copy to", to, errno);
      }
    } else if (S_ISDIR(info.st_mode)) {
      if (::mkdir(to.c_str(), info.st_mode & 07777) != 0) {
        throw FileSystemError("Could not copy to", to, errno);
      }
      DIR* directory = ::opendir(from.c_str());
      if (directory == nullptr) throw FileSystemError("Could not copy", from, errno);
      std::vector<std::string> names;
      while (const dirent* entry = ::readdir(directory)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
      }
      ::closedir(directory);
      for (const std::string& name : names) copyTree(joinPath(from, name), joinPath(to, name));
    } else if (S_ISREG(info.st_mode)) {
      std::string contents = readFile(from, SIZE_MAX);
      FileDescriptor fd(
          ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777));
      if (fd.get() < 0) throw FileSystemError("Could not copy to", to, errno);
      writeAll(fd.get(), contents, to);
    }
  }

  void removeTree(const std::string& path) override {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
      if (errno == ENOENT) return;
      throw FileSystemError("Could not remove", path, errno);
    }
    if (S_ISDIR(info.st_mode)) {
      DIR* directory = ::opendir(path.c_str());
      if (directory == nullptr) throw FileSystemError("Could not remove", path, errno);
      std::vector<std::string> names;
      while (const dirent* entry = ::readdir(directory)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
      }
      ::closedir(directory);
      for (const std::string& name : names) removeTree(joinPath(path, name));
      if (::rmdir(path.c_str()) != 0) throw FileSystemError("Could not remove", path, errno);
    } else if (::unlink(path.c_str()) != 0) {
      throw FileSystemError("Could not remove", path, errno);
    }
  }

  std::string currentDirectory() const override {
    std::string buffer(PATH_MAX, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
      if (errno != ERANGE) throw FileSystemError("Could not find", ".", errno);
      buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    return buffer;
  }

  void moveItem(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0)
      throw FileSystemError("Could not move", from, errno);
  }

  std::string resolvingSymlinks(const std::string& path) const override {
    std::string standardized = standardizedPath(path);
    // Resolve the longest existing prefix, then append what does not exist yet.
    std::string head = standardized;
    std::string tail;
    for (;;) {
      char resolved[PATH_MAX];
      if (::realpath(head.c_str(), resolved) != nullptr) {
        std::string result = resolved;
        if (!tail.empty()) result = joinPath(result, tail);
        return result;
      }
      std::size_t slash = head.rfind('/');
      if (slash == std::string::npos || head == "/") return standardized;
      std::string last = head.substr(slash + 1);
      tail = tail.empty() ? last : last + "/" + tail;
      head = slash == 0 ? "/" : head.substr(0, slash);
    }
  }
};

}  // namespace

std::unique_ptr<FileSystem> makePosixFileSystem() {
  return std::make_unique<PosixFileSystem>();
}

}  // namespace vellora
