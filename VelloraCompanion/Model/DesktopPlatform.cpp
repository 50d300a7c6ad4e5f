#include "VelloraCompanion/Model/DesktopPlatform.h"

namespace vellora {

std::string companionStepTitle(DesktopPlatform platform) {
  switch (platform) {
    case DesktopPlatform::macOS:
      return "Install Vellora Mac app";
    case DesktopPlatform::freedesktop:
      return "Install Vellora desktop app";
  }
  return {};
}

std::string revealFolderButtonTitle(DesktopPlatform platform) {
  switch (platform) {
    case DesktopPlatform::macOS:
      return "Show in Finder";
    case DesktopPlatform::freedesktop:
      return "Show in Files";
  }
  return {};
}

std::string codexSignInDetail(DesktopPlatform platform) {
  switch (platform) {
    case DesktopPlatform::macOS:
      return "Open Codex and sign in, then choose Refresh Status.";
    case DesktopPlatform::freedesktop:
      return "Run codex login in a terminal, then choose Refresh Status.";
  }
  return {};
}

bool browserOpensExtensionsPage(DesktopPlatform platform) {
  return platform == DesktopPlatform::macOS;
}

}  // namespace vellora
