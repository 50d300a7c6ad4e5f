#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

#include "VelloraCompanion/Qt/PlatformIntegration.h"
#include "VelloraCore/Chrome/ChromeBrowser.h"

namespace vellora::platform {

void setActivationPolicy(ActivationPolicy) {
  // A freedesktop session has no Dock policy: the tray icon and the window are all there is.
}

void activateApplication() {}

void onReopen(std::function<void()>) {}

std::optional<std::string> applicationLocation(const std::string& bundleIdentifier) {
  const ChromeBrowser* browser = findChromeBrowserByBundleIdentifier(bundleIdentifier);
  if (browser == nullptr) return std::nullopt;
  for (std::string_view command : browser->linuxCommands) {
    if (command.empty()) continue;
    const QString found = QStandardPaths::findExecutable(
        QString::fromUtf8(command.data(), static_cast<qsizetype>(command.size())));
    if (!found.isEmpty()) return found.toStdString();
  }
  return std::nullopt;
}

void openURLsWithApplication(const std::vector<std::string>& urls,
                             const std::string& applicationLocation,
                             Desktop::OpenCompletion completion) {
  QStringList arguments;
  for (const std::string& url : urls) arguments << QString::fromStdString(url);
  QProcess process;
  process.setProgram(QString::fromStdString(applicationLocation));
  process.setArguments(arguments);
  process.setStandardInputFile(QProcess::nullDevice());
  process.setStandardOutputFile(QProcess::nullDevice());
  process.setStandardErrorFile(QProcess::nullDevice());
  if (process.startDetached()) {
    completion(std::nullopt);
  } else {
    completion(process.errorString().toStdString());
  }
}

void revealInFileViewer(const std::string& path) {
  const QUrl url = QUrl::fromLocalFile(QString::fromStdString(path));
  QDBusConnection bus = QDBusConnection::sessionBus();
  const QString service = "org.freedesktop.FileManager1";
  if (bus.isConnected() && bus.interface() != nullptr &&
      (bus.interface()->isServiceRegistered(service).value() ||
       bus.interface()->activatableServiceNames().value().contains(service))) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, "/org/freedesktop/FileManager1",
                                                       service, "ShowItems");
    call << QStringList{url.toString()} << QString();
    if (bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage) return;
  }
  // No file manager to select it: open the folder itself.
  QDesktopServices::openUrl(url);
}

std::optional<std::string> resourceDirectory(const std::string& executablePath) {
  if (executablePath.empty()) return std::nullopt;
  // <prefix>/lib/vellora/VelloraCompanion -> <prefix>/share/vellora
  const QDir programs = QFileInfo(QString::fromStdString(executablePath)).absoluteDir();
  return QDir::cleanPath(programs.absoluteFilePath("../../share/vellora")).toStdString();
}

}  // namespace vellora::platform
