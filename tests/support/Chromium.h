#pragma once

#include <optional>
#include <string>
#include <vector>

#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Platform/ProcessLauncher.h"

namespace vellora {
class AppPaths;
class FileSystem;
}  // namespace vellora

namespace vellora::test {

// The probe extension's ID, which follows from the "key" in its manifest.
inline constexpr const char* kProbeExtensionID = "pdgpgmhmpnlldpnpdlnihcbjcaaelbpi";

// The probe extension's unpacked source (tests/fixtures/probe-extension), to copy where the
// companion keeps the extension.
std::string probeExtensionSource();

// The side panel extension as the build makes it (apps/extension/dist), and its fixed ID.
inline constexpr const char* kSidePanelExtensionID = "gdhafjcfghdlkpdfaieinlkfnddbcblg";
std::string sidePanelExtensionSource();

// Debian's chromium (/usr/bin/chromium, else "chromium" on PATH); nothing where it is not
// installed, and tests that need it skip.
std::optional<std::string> findChromium(const FileSystem& fileSystem);

// The arguments of a headless Chromium for tests: no sandbox (tests may run as root), no GPU,
// no first-run pages, no network of its own, its profiles in `userDataDirectory` and the
// unpacked extensions in `extensionFolders` loaded.
std::vector<std::string> chromiumArguments(const std::string& userDataDirectory,
                                           const std::vector<std::string>& extensionFolders);

// How to start `chromium` (chromiumArguments) on the layout's Chrome user data, or on
// `userDataDirectory` when given, with the layout's extension folder loaded, then
// `extraArguments`; standard output goes nowhere.
ProcessLaunchOptions chromiumLaunchOptions(const std::string& chromium, const AppPaths& paths,
                                           const std::vector<std::string>& extraArguments,
                                           Environment environment, StreamMode standardError,
                                           std::optional<std::string> userDataDirectory = {});

// A first start of Chromium, which writes the profile (with the extension it loaded) and quits
// once about:blank has loaded (--dump-dom). Its exit status; nothing when it had not quit by
// `deadline`, and then it has been killed. The profile goes where chromiumLaunchOptions puts it.
std::optional<ProcessExit> writeChromiumProfile(const std::string& chromium, const AppPaths& paths,
                                                Environment environment,
                                                Process::TimePoint deadline,
                                                std::optional<std::string> userDataDirectory = {});

}  // namespace vellora::test
