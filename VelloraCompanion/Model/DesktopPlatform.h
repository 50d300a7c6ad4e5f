#pragma once

#include <string>

namespace vellora {

// The desktop the companion runs on, for the few texts that name it: the Mac keeps its own
// words ("Install Vellora Mac app", "Show in Finder"); a freedesktop session (Linux) reads
// "Install Vellora desktop app" and "Show in Files".
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

}  // namespace vellora
