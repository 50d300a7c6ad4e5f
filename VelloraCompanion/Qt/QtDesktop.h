#pragma once

#include <QIcon>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "VelloraCompanion/Model/CompanionAction.h"
#include "VelloraCompanion/Model/Desktop.h"

class QMenu;
class QObject;
class QSystemTrayIcon;
class QWidget;

namespace vellora {

class WelcomeWindow;

// The companion's Desktop on Qt Widgets: a QSystemTrayIcon with the status menu, the welcome
// window, QMessageBox alerts, the clipboard and the platform's ways of opening things. Main
// thread only. It shows what it is given; what the user does goes back to the handlers, queued
// after the event that caused it so that a rebuild never deletes a widget inside its own signal.
class QtDesktop final : public Desktop {
 public:
  struct Handlers {
    // A menu item or button was chosen (quit is handled here and not passed on).
    std::function<void(CompanionAction)> perform;
    // The user closed a window this desktop created.
    std::function<void(WindowID)> windowWillClose;
    // The user double-clicked the tray icon (the desktop's "reopen").
    std::function<void()> reopen;
  };

  QtDesktop();
  ~QtDesktop() override;

  // Where the user's actions go; set once, before the event loop runs.
  void setHandlers(Handlers handlers);

  bool installStatusItem(const StatusItemAppearance& appearance) override;
  void setStatusMenu(const StatusMenu& menu) override;
  void setApplicationIcon(const AppIcon& icon) override;
  void setActivationPolicy(ActivationPolicy policy) override;
  WindowID createWelcomeWindow() override;
  void setWelcomeContent(WindowID window, const WelcomeContent& content) override;
  void presentWindow(WindowID window) override;
  std::size_t runAlert(const Alert& alert) override;
  void setClipboardText(const std::string& text) override;
  void terminate() override;
  std::optional<std::string> applicationLocation(const std::string& bundleIdentifier) override;
  void openURLsWithApplication(const std::vector<std::string>& urls,
                               const std::string& applicationLocation,
                               OpenCompletion completion) override;
  void openURL(const std::string& url) override;
  void revealInFileViewer(const std::string& path) override;
  std::optional<std::string> executablePath() override;
  std::optional<std::string> resourceDirectory() override;

 private:
  void deliver(CompanionAction action);

  Handlers handlers_;
  std::unique_ptr<QObject> context_;
  std::unique_ptr<QSystemTrayIcon> statusItem_;
  QPointer<QMenu> statusMenu_;
  QIcon appIcon_;
  std::map<WindowID, QPointer<WelcomeWindow>> windows_;
  WindowID lastWindow_ = 0;
};

}  // namespace vellora
