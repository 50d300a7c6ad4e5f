#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "VelloraCompanion/Model/StatusMenu.h"
#include "VelloraCompanion/Model/WelcomeContent.h"

namespace vellora {

// Whether the application shows in the Dock (regular) or only in the menu bar (accessory).
enum class ActivationPolicy { accessory, regular };

// A modal alert: a message, an informative text and buttons, the first being the default.
struct Alert {
  std::string messageText;
  std::string informativeText;
  std::vector<std::string> buttons;
  friend bool operator==(const Alert&, const Alert&) = default;
};

// The status item's button: the symbol image when the symbol exists, else the fallback title.
struct StatusItemAppearance {
  std::string toolTip = "Vellora";
  std::string symbolName = "globe";
  std::string symbolAccessibilityDescription = "Vellora browser helper";
  double symbolWidth = 18;
  double symbolHeight = 18;
  bool symbolIsTemplate = true;
  std::string fallbackTitle = "WWW";
  friend bool operator==(const StatusItemAppearance&, const StatusItemAppearance&) = default;
};

// The application's icon: the image resource `resourceName` of the bundle, else the named image
// of that name, at the given size, not a template image.
struct AppIcon {
  std::string resourceName = "AppIcon";
  double width = 256;
  double height = 256;
  std::string accessibilityDescription = "Vellora";
  friend bool operator==(const AppIcon&, const AppIcon&) = default;
};

// The desktop services the companion uses. Everything runs on the main thread, except the
// completion of openURLsWithApplication (any thread). The implementation decides nothing: it
// shows what it is given and reports what the user does back through CompanionApp.
class Desktop {
 public:
  // Identifies a window that this desktop created.
  using WindowID = int;
  // Reports whether opening succeeded: nothing, or the platform's error text.
  using OpenCompletion = std::function<void(std::optional<std::string> error)>;

  virtual ~Desktop() = default;

  // Creates the status item in the system status bar with `appearance`; false when the
  // platform offers none (the menu is then dropped).
  virtual bool installStatusItem(const StatusItemAppearance& appearance) = 0;
  // Replaces the status item's whole menu.
  virtual void setStatusMenu(const StatusMenu& menu) = 0;
  virtual void setApplicationIcon(const AppIcon& icon) = 0;
  virtual void setActivationPolicy(ActivationPolicy policy) = 0;

  // Creates the welcome window (titled, closable, miniaturizable, not resizable, fixed content
  // size WelcomeContent::kWindowWidth x kWindowHeight) without showing it. When the user closes
  // it, the desktop calls CompanionApp::windowWillClose with its ID.
  virtual WindowID createWelcomeWindow() = 0;
  // Replaces the window's whole content.
  virtual void setWelcomeContent(WindowID window, const WelcomeContent& content) = 0;
  // Centres the window, makes it key, brings it to the front and activates the application.
  virtual void presentWindow(WindowID window) = 0;

  // Shows a modal alert and returns the index of the chosen button once it is dismissed.
  virtual std::size_t runAlert(const Alert& alert) = 0;
  // Clears the clipboard and puts the plain text on it.
  virtual void setClipboardText(const std::string& text) = 0;

  // The location of the application with the bundle identifier (on Linux: the program that the
  // desktop knows under that identifier), or nothing when it is not installed.
  virtual std::optional<std::string> applicationLocation(const std::string& bundleIdentifier) = 0;
  // Asks the application at `applicationLocation` to open the URLs and come to the front;
  // returns at once. `completion` runs once, on any thread.
  virtual void openURLsWithApplication(const std::vector<std::string>& urls,
                                       const std::string& applicationLocation,
                                       OpenCompletion completion) = 0;
  // Opens the URL with the user's default handler for it.
  virtual void openURL(const std::string& url) = 0;
  // Shows the folder selected in the platform's file viewer.
  virtual void revealInFileViewer(const std::string& path) = 0;

  // Ends the application once the current event has been handled, as its own quit does.
  virtual void terminate() = 0;

  // The absolute path of the running executable, or nothing when the platform cannot tell.
  // Asked once, at the companion's construction.
  virtual std::optional<std::string> executablePath() = 0;
  // The application's resource directory (where the packaged "extension" folder lies), or
  // nothing outside an application bundle.
  virtual std::optional<std::string> resourceDirectory() = 0;
};

}  // namespace vellora
