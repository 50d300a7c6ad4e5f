#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <functional>
#include <memory>
#include <string>

#include "VelloraCore/Platform/Environment.h"

namespace vellora {

// One companion per user and display. The first companion listens on a local socket named
// after the display, in the user's runtime folder; a later launch on the same display finds
// it there, asks it to show its welcome window and ends. Main thread only; needs the Qt
// application object.
class SingleInstance {
 public:
  // The socket's path: $XDG_RUNTIME_DIR (when absolute) or the temporary folder with the user's
  // number, and the display (WAYLAND_DISPLAY, else DISPLAY) with every character outside
  // [A-Za-z0-9._-] replaced by '_'.
  //   {XDG_RUNTIME_DIR=/run/user/1000, DISPLAY=:0} -> "/run/user/1000/vellora-companion-_0"
  static std::string socketPath(const Environment& environment);

  explicit SingleInstance(std::string socketPath);
  ~SingleInstance();

  // True when a companion already runs on this display and was asked to show its window (this
  // launch should end). Otherwise this process becomes the one that listens, and calls
  // `onShowRequest` on the main thread whenever a later launch asks; false.
  bool askRunningCompanion(std::function<void()> onShowRequest);

 private:
  void accept();

  std::string socketPath_;
  std::unique_ptr<QLocalServer> server_;
  std::function<void()> onShowRequest_;
};

}  // namespace vellora
