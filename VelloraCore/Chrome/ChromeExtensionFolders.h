#pragma once

#include <string_view>

namespace vellora {

// The folders from which Chrome loads the system's own extension, one set per desktop layout
// (beside AppPaths), as the extension detector recognises and ranks them. Each is lower-cased
// and matches a loaded path that ends with it or contains it followed by a slash:
//
//   macOS:  ".../vellora.app/contents/resources/extension"   0  inside the application bundle
//           ".../library/application support/vellora/chrome extension"
//                                                           1  the companion's copy
//           ".../vellora/apps/extension/dist"               2  a source checkout's build output
//   Linux:  ".../share/vellora/extension"                   0  installed with the programs
//                                                              (<prefix>/share/vellora/extension)
//           ".../vellora/chrome extension"                  1  the companion's copy, wherever
//                                                              XDG_DATA_HOME puts it
//           ".../vellora/apps/extension/dist"               2  a source checkout's build output
struct ChromeExtensionFolders {
  // Rank 0: the extension that ships with the installed programs.
  std::string_view bundled;
  // Rank 1: AppPaths::chromeExtensionDirectory(), where the companion copies the extension.
  std::string_view copied;
  // Rank 2: the extension's build output inside a source checkout.
  std::string_view built;

  static constexpr ChromeExtensionFolders macOSLayout() noexcept {
    return {"/vellora.app/contents/resources/extension",
            "/library/application support/vellora/chrome extension",
            "/vellora/apps/extension/dist"};
  }
  static constexpr ChromeExtensionFolders linuxLayout() noexcept {
    return {"/share/vellora/extension", "/vellora/chrome extension",
            "/vellora/apps/extension/dist"};
  }
  // The layout of the platform this program was built for, as AppPaths::platformLayout.
  static constexpr ChromeExtensionFolders platformLayout() noexcept {
#if defined(__APPLE__)
    return macOSLayout();
#else
    return linuxLayout();
#endif
  }

  friend constexpr bool operator==(const ChromeExtensionFolders&,
                                   const ChromeExtensionFolders&) = default;
};

}  // namespace vellora
