#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Protocol/NativeMessageIO.h"

namespace vellora::test {

// The built vellora-native-host, started as Chrome starts it: the extension origin as its
// argument, pipes on standard input and output (and standard error, which must stay empty).
class HostProcess {
 public:
  // Runs in `workingDirectory`, or in this process's when it is empty.
  explicit HostProcess(Environment environment = currentProcessEnvironment(),
                       std::string workingDirectory = {});
  ~HostProcess();

  static std::string executablePath();
  int processID() const noexcept { return child_.process->processID(); }

  void sendBytes(std::string_view bytes);
  void send(const NativeEnvelope& request);
  // The next reply; nothing once the host closed its output.
  std::optional<NativeEnvelope> readReply();
  // The next frame's bytes, header included, exactly as the host wrote them.
  std::string readRawFrame();
  void closeInput();
  // Closes the end the host writes to, as a reader that went away would.
  void closeOutput();
  // Closes the input if still open (unless `closingInput` is false), waits for the exit and
  // returns the exit status (-1 when the host did not exit within a minute or died by a signal).
  int waitForExit(bool closingInput = true);
  // Everything the host wrote to standard error (read after the exit).
  std::string standardErrorText();

 private:
  LaunchedProcess child_;
  std::optional<NativeMessageIO> io_;
};

}  // namespace vellora::test
