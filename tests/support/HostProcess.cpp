#include "tests/support/HostProcess.h"

#include <chrono>

#include "VelloraCore/Protocol/NativeMessageCodec.h"

namespace vellora::test {

std::string HostProcess::executablePath() {
  return std::string(VELLORA_BINARY_DIR) + "/vellora-native-host/vellora-native-host";
}

HostProcess::HostProcess(Environment environment, std::string workingDirectory) {
  static const std::unique_ptr<ProcessLauncher> launcher = makePosixProcessLauncher();
  ProcessLaunchOptions options;
  options.executablePath = executablePath();
  options.arguments = {"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"};
  options.environment = std::move(environment);
  options.workingDirectory = std::move(workingDirectory);
  options.standardInput = StreamMode::pipe;
  options.standardOutput = StreamMode::pipe;
  options.standardError = StreamMode::pipe;
  child_ = launcher->launch(options);
  io_.emplace(child_.standardOutput->fileDescriptor(), child_.standardInput->fileDescriptor());
}

HostProcess::~HostProcess() {
  if (child_.process && child_.process->isRunning()) {
    child_.process->terminate();
    child_.process->waitForExit(std::chrono::steady_clock::now() + std::chrono::seconds(5));
  }
}

void HostProcess::sendBytes(std::string_view bytes) {
  child_.standardInput->writeAll(bytes);
}

void HostProcess::send(const NativeEnvelope& request) {
  io_->writeEnvelope(request);
}

std::optional<NativeEnvelope> HostProcess::readReply() {
  return io_->readEnvelope();
}

std::string HostProcess::readRawFrame() {
  auto readExactly = [this](std::size_t count) {
    std::string bytes(count, '\0');
    std::size_t have = 0;
    while (have < count) {
      const std::size_t n = child_.standardOutput->read(bytes.data() + have, count - have);
      if (n == 0) break;
      have += n;
    }
    bytes.resize(have);
    return bytes;
  };
  std::string frame = readExactly(NativeMessageCodec::kHeaderBytes);
  if (frame.size() < NativeMessageCodec::kHeaderBytes) return frame;
  return frame + readExactly(NativeMessageCodec::payloadLength(frame.data()));
}

void HostProcess::closeInput() {
  child_.standardInput->close();
}

void HostProcess::closeOutput() {
  child_.standardOutput->close();
}

int HostProcess::waitForExit(bool closingInput) {
  if (closingInput) closeInput();
  if (!child_.process->waitForExit(std::chrono::steady_clock::now() + std::chrono::minutes(1))) {
    return -1;
  }
  std::optional<ProcessExit> exit = child_.process->exitStatus();
  return exit && exit->reason == ProcessExit::Reason::exited ? exit->code : -1;
}

std::string HostProcess::standardErrorText() {
  std::string text;
  char buffer[4096];
  while (std::size_t count = child_.standardError->read(buffer, sizeof buffer)) {
    text.append(buffer, count);
  }
  return text;
}

}  // namespace vellora::test
