#pragma once

#include <string>

namespace vellora::test {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at destruction.
// Tests use it as a scratch HOME.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  // Writes a file (creating parent folders) and returns its path.
  std::string writeFile(const std::string& relative, const std::string& contents,
                        unsigned mode = 0644) const;

 private:
  std::string path_;
};

}  // namespace vellora::test
