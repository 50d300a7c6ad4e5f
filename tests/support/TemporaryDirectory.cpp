#include "tests/support/TemporaryDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "VelloraCore/Platform/FileSystem.h"

namespace vellora::test {

TemporaryDirectory::TemporaryDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/vellora-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  // Resolve links (macOS /tmp is /private/tmp) so paths compare as the code sees them.
  path_ = makePosixFileSystem()->resolvingSymlinks(pattern);
}

TemporaryDirectory::~TemporaryDirectory() {
  try {
    auto fileSystem = makePosixFileSystem();
    // Give back permissions that a test may have taken away, so the tree can be removed.
    ::chmod(path_.c_str(), 0755);
    fileSystem->removeTree(path_);
  } catch (...) {
  }
}

std::string TemporaryDirectory::writeFile(const std::string& relative, const std::string& contents,
                                          unsigned mode) const {
  auto fileSystem = makePosixFileSystem();
  std::string path = *this / relative;
  fileSystem->createDirectories(path.substr(0, path.rfind('/')));
  fileSystem->writeFileAtomically(path, contents);
  ::chmod(path.c_str(), mode);
  return path;
}

}  // namespace vellora::test
