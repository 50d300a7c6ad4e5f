#pragma once

#include <string>

namespace vellora {

// The desktop the companion runs on, for the few texts that name it: the Mac keeps its own
// words ("Install Vellora Mac app", "Show in Finder", "Open Codex and sign in, ..."); a
// freedesktop session (Linux) reads "Install Vellora desktop app", "Show in Files" and "Run
// codex login in a terminal, ...".
enum class DesktopPlatform { macOS, freedesktop };

// The platform this program was built for.
#if defined(__APPLE__)
inline constexpr DesktopPlatform kHostDesktopPlatform = DesktopPlatform::macOS;
#else
inline constexpr DesktopPlatform kHostDesktopPlatform = DesktopPlatform::freedesktop;
#endif

// The title of setup step 1.
std::string companionStepTitle(DesktopPlatform platform);
// The button of the extension-folder alert that reveals the folder.
std::string revealFolderButtonTitle(DesktopPlatform platform);
// Step 2's detail when Codex is installed but not signed in.
std::string codexSignInDetail(DesktopPlatform platform);
// Whether a browser started with chrome://extensions shows that page. On Linux it opens a New
// Tab instead, so the companion also copies the address and says so.
bool browserOpensExtensionsPage(DesktopPlatform platform);

}  // namespace vellora
