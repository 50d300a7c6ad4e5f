#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vellora {
class FileSystem;
}

namespace vellora::test {

// Debian's chromium (/usr/bin/chromium, else "chromium" on PATH); nothing where it is not
// installed, and tests that need it skip.
std::optional<std::string> findChromium(const FileSystem& fileSystem);

// The arguments of a headless Chromium for tests: no sandbox (tests may run as root), no GPU,
// no first-run pages, no network of its own, its profiles in `userDataDirectory` and the
// unpacked extensions in `extensionFolders` loaded.
std::vector<std::string> chromiumArguments(const std::string& userDataDirectory,
                                           const std::vector<std::string>& extensionFolders);

}  // namespace vellora::test
