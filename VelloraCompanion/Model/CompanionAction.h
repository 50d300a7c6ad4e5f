#pragma once

namespace vellora {

// What a menu item or a welcome-window button asks the companion to do. The desktop layer
// sends it back through CompanionApp::perform on the main thread.
enum class CompanionAction {
  openSetupGuide,        // "Show Welcome Screen"
  installNativeHost,     // "Fix Browser Connection", "Fix Browser"
  openChromeExtensions,  // "Open Chrome Extensions", the chrome://extensions link
  showExtensionFolder,   // "Show Extension Folder Path", "Show extension folder path"
  refreshStatus,         // "Refresh Status"
  openCodexInChrome,     // "Open Chrome to use Vellora"
  toggleStartAtLogin,    // "Start at Login" (Linux)
  quit,                  // "Quit Vellora", "Quit": the desktop ends the application itself
};

}  // namespace vellora
