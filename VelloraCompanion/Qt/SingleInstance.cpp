#include "VelloraCompanion/Qt/SingleInstance.h"

#include <unistd.h>

#include <QDir>
#include <QLocalSocket>
#include <utility>

namespace vellora {

namespace {

constexpr const char* kShowRequest = "show\n";
constexpr int kConnectMilliseconds = 2000;
// Long enough for a companion that is busy starting up, short enough for a launcher.
constexpr int kAnswerMilliseconds = 5000;
constexpr int kLockMilliseconds = 10000;

std::string variable(const Environment& environment, const char* name) {
  auto found = environment.find(name);
  return found == environment.end() ? std::string() : found->second;
}

}  // namespace

std::string SingleInstance::socketPath(const Environment& environment) {
  std::string folder = variable(environment, "XDG_RUNTIME_DIR");
  std::string prefix = "vellora-companion-";
  if (folder.empty() || folder.front() != '/') {
    folder = QDir::tempPath().toStdString();
    prefix += std::to_string(::getuid()) + "-";
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string display = variable(environment, "WAYLAND_DISPLAY");
  if (display.empty()) display = variable(environment, "DISPLAY");
  for (char& c : display) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    if (!plain) c = '_';
  }
  return folder + "/" + prefix + display;
}

SingleInstance::SingleInstance(std::string socketPath) : socketPath_(std::move(socketPath)) {}

SingleInstance::~SingleInstance() {
  if (server_) server_->close();
}

bool SingleInstance::askRunningCompanion(std::function<void()> onShowRequest) {
  // Two companions started together: the lock makes one of them listen and the other ask it.
  QLockFile lock(QString::fromStdString(socketPath_ + ".lock"));
  const bool locked = lock.tryLock(kLockMilliseconds);

  const QString name = QString::fromStdString(socketPath_);
  QLocalSocket socket;
  socket.connectToServer(name);
  if (socket.waitForConnected(kConnectMilliseconds)) {
    socket.write(kShowRequest);
    socket.waitForBytesWritten(kAnswerMilliseconds);
    // The running companion answers once it has taken the request.
    socket.waitForReadyRead(kAnswerMilliseconds);
    return true;
  }

  // Nobody listens: a socket left by a companion that ended without closing it is removed.
  QLocalServer::removeServer(name);
  onShowRequest_ = std::move(onShowRequest);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(),
                   [this] { accept(); });
  // When listening fails the companion runs anyway, as one that later launches cannot find.
  server_->listen(name);
  if (locked) lock.unlock();
  return false;
}

void SingleInstance::accept() {
  while (QLocalSocket* client = server_->nextPendingConnection()) {
    QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    QObject::connect(client, &QLocalSocket::readyRead, client, [this, client] {
      if (!client->canReadLine()) return;
      const QByteArray line = client->readLine(64);
      if (line == kShowRequest) {
        client->write("ok\n");
        client->flush();
        if (onShowRequest_) onShowRequest_();
      }
      client->disconnectFromServer();
    });
  }
}

}  // namespace vellora
