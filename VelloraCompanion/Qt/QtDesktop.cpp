#include "VelloraCompanion/Qt/QtDesktop.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "VelloraCompanion/Qt/AppIconImage.h"
#include "VelloraCompanion/Qt/PlatformIntegration.h"
#include "VelloraCompanion/Qt/StatusMenuView.h"
#include "VelloraCompanion/Qt/SymbolImages.h"
#include "VelloraCompanion/Qt/WelcomeView.h"

namespace vellora {

namespace {

#if defined(__APPLE__)
constexpr bool kSystemOpensMenu = true;
#else
constexpr bool kSystemOpensMenu = false;
#endif

}  // namespace

// The welcome window: fixed size, its content replaced whole; tells the desktop when the user
// closes it. The content sits in a scroll area that scrolls only when the screen is too low
// for the whole window (fitInto).
class WelcomeWindow final : public QWidget {
 public:
  explicit WelcomeWindow(std::function<void()> onClose) : onClose_(std::move(onClose)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint);
    setFixedSize(kWidth, kHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea;
    scroll_->setObjectName("welcomeScroll");
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(false);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(scroll_);
  }

  void setContent(QWidget* content) {
    const int position = scroll_->verticalScrollBar()->value();
    if (QWidget* old = scroll_->takeWidget()) {
      old->hide();
      // Deleted later: the click that led here may still be running inside it.
      old->deleteLater();
    }
    scroll_->setWidget(content);
    // A rebuild keeps the place the user scrolled to.
    scroll_->verticalScrollBar()->setValue(position);
  }

  // Sizes and places the window inside `available` (a screen's free area): the full size,
  // centred, when it fits; else as high as the area, at its top, with the content scrolling.
  void fitInto(const QRect& available) {
    // The window manager's frame, known once the window has been shown; none before.
    const int frameHeight = std::max(0, frameGeometry().height() - geometry().height());
    const int frameWidth = std::max(0, frameGeometry().width() - geometry().width());
    const bool fits = available.height() >= kHeight + frameHeight;
    scroll_->setVerticalScrollBarPolicy(fits ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
    const int scrollBar = fits ? 0 : scroll_->verticalScrollBar()->sizeHint().width();
    setFixedSize(kWidth + scrollBar, fits ? kHeight : available.height() - frameHeight);
    QRect frame(QPoint(0, 0), QSize(width() + frameWidth, height() + frameHeight));
    frame.moveCenter(available.center());
    if (!fits) frame.moveTop(available.top());
    if (frame.left() < available.left()) frame.moveLeft(available.left());
    move(frame.topLeft());
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (onClose_) onClose_();
    event->accept();
  }

 private:
  static constexpr int kWidth = static_cast<int>(WelcomeContent::kWindowWidth);
  static constexpr int kHeight = static_cast<int>(WelcomeContent::kWindowHeight);

  std::function<void()> onClose_;
  QScrollArea* scroll_ = nullptr;
};

QtDesktop::QtDesktop() : context_(std::make_unique<QObject>()) {}

QtDesktop::~QtDesktop() {
  for (auto& [id, window] : windows_) delete window.data();
  if (statusMenu_) delete statusMenu_.data();
}

void QtDesktop::setHandlers(Handlers handlers) {
  handlers_ = std::move(handlers);
}

void QtDesktop::deliver(CompanionAction action) {
  if (action == CompanionAction::quit) {
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    return;
  }
  QMetaObject::invokeMethod(
      context_.get(),
      [this, action] {
        // Nothing may leave the event loop's callback.
        try {
          if (handlers_.perform) handlers_.perform(action);
        } catch (...) {
        }
      },
      Qt::QueuedConnection);
}

bool QtDesktop::installStatusItem(const StatusItemAppearance& appearance) {
  // Without a tray at launch the companion goes without an icon for this run, also when a tray
  // appears later: the welcome window is then the application.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  statusItem_ = std::make_unique<QSystemTrayIcon>();
  statusItem_->setToolTip(QString::fromStdString(appearance.toolTip));
  QIcon image = statusItemSymbolImage(appearance);
  if (image.isNull()) image = statusItemTitleImage(appearance.fallbackTitle);
  statusItem_->setIcon(image);
  QObject::connect(statusItem_.get(), &QSystemTrayIcon::activated, context_.get(),
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     // A left click opens the menu, as a menu-bar item does; a double click
                     // reopens the application.
                     // (On macOS the system opens the menu itself.)
                     if (reason == QSystemTrayIcon::Trigger && statusMenu_ && !kSystemOpensMenu) {
                       statusMenu_->popup(QCursor::pos());
                     } else if (reason == QSystemTrayIcon::DoubleClick && handlers_.reopen) {
                       handlers_.reopen();
                     }
                   });
  statusItem_->show();
  return true;
}

void QtDesktop::setStatusMenu(const StatusMenu& menu) {
  QMenu* view = makeStatusMenuView(menu, [this](CompanionAction action) { deliver(action); });
  if (statusItem_) statusItem_->setContextMenu(view);
  if (statusMenu_) statusMenu_->deleteLater();
  statusMenu_ = view;
}

void QtDesktop::setApplicationIcon(const AppIcon& icon) {
  appIcon_ = appIconImage(icon);
  if (!appIcon_.isNull()) QApplication::setWindowIcon(appIcon_);
}

void QtDesktop::setActivationPolicy(ActivationPolicy policy) {
  platform::setActivationPolicy(policy);
}

Desktop::WindowID QtDesktop::createWelcomeWindow() {
  const WindowID id = ++lastWindow_;
  auto* window = new WelcomeWindow([this, id] {
    windows_.erase(id);
    if (handlers_.windowWillClose) handlers_.windowWillClose(id);
  });
  window->setObjectName("welcomeWindow");
  windows_[id] = window;
  return id;
}

void QtDesktop::setWelcomeContent(WindowID id, const WelcomeContent& content) {
  auto found = windows_.find(id);
  if (found == windows_.end() || !found->second) return;
  found->second->setWindowTitle(QString::fromStdString(content.windowTitle));
  found->second->setContent(
      makeWelcomeView(content, appIcon_, [this](CompanionAction action) { deliver(action); }));
}

void QtDesktop::presentWindow(WindowID id) {
  auto found = windows_.find(id);
  if (found == windows_.end() || !found->second) return;
  WelcomeWindow* window = found->second;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    window->fitInto(screen->availableGeometry());
  }
  platform::activateApplication();
  window->show();
  window->raise();
  window->activateWindow();
}

std::size_t QtDesktop::runAlert(const Alert& alert) {
  QMessageBox box;
  box.setWindowTitle("Vellora");
  box.setText(QString::fromStdString(alert.messageText));
  box.setInformativeText(QString::fromStdString(alert.informativeText));
  if (!appIcon_.isNull()) box.setIconPixmap(appIcon_.pixmap(64, 64));
  std::vector<QPushButton*> buttons;
  for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
    buttons.push_back(box.addButton(QString::fromStdString(alert.buttons[i]),
                                    i == 0 ? QMessageBox::AcceptRole : QMessageBox::ActionRole));
  }
  if (!buttons.empty()) box.setDefaultButton(buttons.front());
  // From the status menu the application is not in front, and the alert would open behind.
  platform::activateApplication();
  box.exec();
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (box.clickedButton() == buttons[i]) return i;
  }
  return 0;
}

void QtDesktop::terminate() {
  QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void QtDesktop::setClipboardText(const std::string& text) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  clipboard->setText(QString::fromStdString(text));
}

std::optional<std::string> QtDesktop::applicationLocation(const std::string& bundleIdentifier) {
  return platform::applicationLocation(bundleIdentifier);
}

void QtDesktop::openURLsWithApplication(const std::vector<std::string>& urls,
                                        const std::string& applicationLocation,
                                        OpenCompletion completion) {
  platform::openURLsWithApplication(urls, applicationLocation, std::move(completion));
}

void QtDesktop::openURL(const std::string& url) {
  const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
  if (address.isValid()) QDesktopServices::openUrl(address);
}

void QtDesktop::revealInFileViewer(const std::string& path) {
  platform::revealInFileViewer(path);
}

std::optional<std::string> QtDesktop::executablePath() {
  const QString path = QCoreApplication::applicationFilePath();
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

std::optional<std::string> QtDesktop::resourceDirectory() {
  const std::optional<std::string> executable = executablePath();
  if (!executable) return std::nullopt;
  return platform::resourceDirectory(*executable);
}

}  // namespace vellora
