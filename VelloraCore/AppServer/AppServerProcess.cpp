#include "VelloraCore/AppServer/AppServerProcess.h"

#include <algorithm>
#include <cmath>

#include "VelloraCore/AppServer/AppServerError.h"
#include "VelloraCore/Discovery/CodexProcessEnvironment.h"
#include "VelloraCore/Platform/BackgroundReader.h"
#include "VelloraCore/Platform/ByteStream.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Platform/RandomUUID.h"
#include "VelloraCore/Platform/ReadinessWait.h"
#include "VelloraCore/Platform/UTF8Text.h"

namespace vellora {

namespace {

using namespace std::chrono_literals;

// How much of the child's output one read asks for.
constexpr std::size_t kReadChunkBytes = 64 * 1024;
// When the output ends, how long to wait for the child's exit and its last standard error, so
// that the error names the exit code and the child's last words whenever they come promptly.
constexpr auto kEndOfOutputGrace = 500ms;

// "vellora_" + a random (version 4) UUID in canonical upper-case form: 44 characters.
std::string newRequestID() {
  return "vellora_" + newRandomUUIDText();
}

// A line longer than this is written in pieces while it is made, and the buffer that made it
// is not kept for the next line.
constexpr std::size_t kKeptLineBufferBytes = 2 * JSONValue::kSpillBytes;

// `text` (valid UTF-8) without what a terminal would interpret instead of showing: escape
// sequences (CSI "ESC [ ... final", OSC/DCS/APC/PM/SOS strings up to BEL or "ESC \\", other
// escapes such as "ESC ( B") and control characters other than line feeds and tabs (C0, DEL and
// C1). Codex colours its log lines, and these texts end up in the sidebar.
//   "\x1b[2m2026-01-01\x1b[0m \x1b[31mERROR\x1b[0m boom\r\n" -> "2026-01-01 ERROR boom\n"
std::string withoutTerminalControls(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  std::size_t index = 0;
  auto skipString = [&] {
    // Up to BEL or the string terminator ESC "\".
    while (index < text.size()) {
      if (text[index] == '\a') {
        ++index;
        return;
      }
      if (text[index] == '\x1b' && index + 1 < text.size() && text[index + 1] == '\\') {
        index += 2;
        return;
      }
      ++index;
    }
  };
  while (index < text.size()) {
    const auto byte = static_cast<unsigned char>(text[index]);
    if (byte == 0x1b) {
      ++index;
      // Only ASCII is ever taken as part of a sequence, so no character is cut in two.
      if (index >= text.size() || text[index] < 0x20 || text[index] > 0x7e) continue;
      const char kind = text[index++];
      if (kind == '[') {
        // Parameter and intermediate bytes, then one final byte.
        while (index < text.size() && text[index] >= 0x20 && text[index] <= 0x3f) ++index;
        if (index < text.size() && text[index] >= 0x40 && text[index] <= 0x7e) ++index;
      } else if (kind == ']' || kind == 'P' || kind == 'X' || kind == '^' || kind == '_') {
        skipString();
      } else if (kind >= 0x20 && kind <= 0x2f) {
        // Intermediate bytes, as in "ESC ( B", then one final byte.
        while (index < text.size() && text[index] >= 0x20 && text[index] <= 0x2f) ++index;
        if (index < text.size() && text[index] >= 0x30 && text[index] <= 0x7e) ++index;
      }
      continue;
    }
    if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7f) {
      ++index;
      continue;
    }
    // C1 controls are U+0080 to U+009F: 0xC2 0x80 to 0xC2 0x9F in UTF-8.
    if (byte == 0xc2 && index + 1 < text.size() &&
        static_cast<unsigned char>(text[index + 1]) <= 0x9f) {
      index += 2;
      continue;
    }
    result.push_back(text[index++]);
  }
  return result;
}

// The time-out as a clock duration: NaN and negatives are zero, and it is capped far below
// where the arithmetic would overflow.
Clock::TimePoint::duration clampedTimeout(Seconds timeout) {
  double seconds = timeout.count();
  if (!(seconds > 0)) return Clock::TimePoint::duration::zero();
  seconds = std::min(seconds, 1e9);
  return std::chrono::duration_cast<Clock::TimePoint::duration>(Seconds(seconds));
}

}  // namespace

void AppServerProcess::StderrCapture::append(std::string_view bytes) {
  std::lock_guard guard(lock);
  if (bytes.size() >= kMaxBytes) {
    buffer.assign(bytes.substr(bytes.size() - kMaxBytes));
    return;
  }
  buffer.append(bytes);
  if (buffer.size() > kMaxBytes) buffer.erase(0, buffer.size() - kMaxBytes);
}

void AppServerProcess::StderrCapture::clear() {
  std::lock_guard guard(lock);
  buffer.clear();
}

std::optional<std::string> AppServerProcess::StderrCapture::text() {
  std::lock_guard guard(lock);
  // A character cut at the start of the kept window makes the whole text undecodable.
  if (!isValidUTF8(buffer)) return std::nullopt;
  const std::string readable = withoutTerminalControls(buffer);
  std::string_view trimmed = trimmingWhitespace(readable);
  if (trimmed.empty()) return std::nullopt;
  return std::string(trimmed);
}

AppServerProcess::AppServerProcess(std::string codexPath, std::string workspaceDirectory,
                                   OutputHandler outputHandler, ProcessLauncher& launcher,
                                   const Clock& clock, Environment environment,
                                   std::string homeDirectory, ReadinessWait* wait)
    : codexPath_(std::move(codexPath)),
      workspaceDirectory_(std::move(workspaceDirectory)),
      outputHandler_(std::move(outputHandler)),
      launcher_(launcher),
      clock_(clock),
      environment_(std::move(environment)),
      homeDirectory_(std::move(homeDirectory)),
      ownWait_(wait == nullptr ? makePollReadinessWait(clock) : nullptr),
      wait_(wait != nullptr ? *wait : *ownWait_) {}

AppServerProcess::~AppServerProcess() {
  stop();
}

bool AppServerProcess::isRunning() const noexcept {
  return process_ != nullptr && process_->isRunning();
}

void AppServerProcess::start(FileSystem& fileSystem) {
  if (isRunning()) return;
  fileSystem.createDirectories(workspaceDirectory_);

  // The previous child has ended; its reader must not write into the new child's tail.
  if (stderrReader_) stderrReader_->stop();
  stderrCapture_.clear();

  ProcessLaunchOptions options;
  options.executablePath = codexPath_;
  options.arguments.assign(CodexAppServerCommand::kRuntimeArguments.begin(),
                           CodexAppServerCommand::kRuntimeArguments.end());
  options.environment =
      CodexProcessEnvironment(codexPath_, environment_, homeDirectory_, fileSystem).values();
  options.workingDirectory = workspaceDirectory_;
  options.standardInput = StreamMode::pipe;
  options.standardOutput = StreamMode::pipe;
  options.standardError = StreamMode::pipe;
  // A `codex` that is a wrapper starts the real one as its own child: ending the group ends both.
  options.ownProcessGroup = true;
  LaunchedProcess launched = launcher_.launch(options);

  std::unique_ptr<BackgroundReader> reader;
  try {
    reader = std::make_unique<BackgroundReader>(
        std::move(launched.standardError),
        [this](std::string_view bytes) { stderrCapture_.append(bytes); });
  } catch (...) {
    // Nothing would drain its standard error; do not leave it running.
    launched.process->endProcessGroup(kProcessGroupGrace);
    throw;
  }

  stop();
  process_ = std::move(launched.process);
  inputPipe_ = std::move(launched.standardInput);
  // A turn's line can be tens of MiB (a screenshot, a page's text).
  enlargePipeBuffer(inputPipe_->fileDescriptor());
  outputPipe_ = std::move(launched.standardOutput);
  stderrReader_ = std::move(reader);
  lineBuffer_.clear();
}

void AppServerProcess::writeMessage(const JSONValue& message) {
  std::string line = message.serialized();
  line += '\n';
  inputPipe_->writeAll(line);
}

void AppServerProcess::writeMessageLine(const std::string* id, std::string_view method,
                                        const JSONValue& params) {
  // {"id", "method", "params"} (no id for a notification), members in the order a JSON object
  // is written. The params are written where they are instead of being copied into a new
  // object first, and a line of tens of MiB (a turn's page context) goes out in large pieces
  // while it is being made, so it is never held whole. A line that fits one piece is written
  // with one call, its break included.
  std::string& line = lineOut_;
  line.clear();
  line += '{';
  if (id != nullptr) {
    line += "\"id\":";
    JSONValue::serializeString(line, *id);
    line += ',';
  }
  line += "\"method\":";
  JSONValue::serializeString(line, method);
  line += ",\"params\":";
  bool spilled = false;
  try {
    params.serialize(line, {}, [&](std::string& full) {
      spilled = true;
      inputPipe_->writeAll(full);
      full.clear();
    });
    line += "}\n";
    inputPipe_->writeAll(line);
  } catch (...) {
    // Half a message would run into the next one: this child's input is unusable.
    if (spilled) stop();
    releaseLineBuffer();
    throw;
  }
  releaseLineBuffer();
}

void AppServerProcess::releaseLineBuffer() noexcept {
  if (lineOut_.capacity() > kKeptLineBufferBytes) {
    std::string().swap(lineOut_);
  } else {
    lineOut_.clear();
  }
}

JSONValue AppServerProcess::request(std::string_view method, const JSONValue& params,
                                    Seconds timeout) {
  return request(method, params, timeout, outputHandler_);
}

JSONValue AppServerProcess::request(const CodexAppServerMethod& method, const JSONValue& params,
                                    const OutputHandler& handler) {
  return request(method.name, params, method.timeout, handler);
}

JSONValue AppServerProcess::request(std::string_view method, const JSONValue& params,
                                    Seconds timeout, const OutputHandler& handler) {
  if (!isRunning() || !inputPipe_ || !outputPipe_) throw AppServerError::notRunning();
  const std::string id = newRequestID();
  writeMessageLine(&id, method, params);

  const Clock::TimePoint deadline = clock_.now() + clampedTimeout(timeout);
  if (!(clock_.now() < deadline)) throw AppServerError::timeout(std::string(method));
  for (;;) {
    // A child that has just ended may still have written the response: read on until its
    // output ends, which reports the exit.
    if (!process_ || !outputPipe_) throw AppServerError::notRunning();
    std::optional<JSONValue> message = readNextMessage(deadline);
    if (!message) throw AppServerError::timeout(std::string(method));
    const JSONValue* messageID = message->subscript("id");
    if (messageID != nullptr && messageID->stringValue() != nullptr &&
        *messageID->stringValue() == id) {
      const JSONValue* result = message->subscript("result");
      // Some peers write "error": null beside a result; only a real error value fails.
      if (const JSONValue* error = message->subscript("error")) {
        if (!error->isNull() || result == nullptr) throw AppServerError::server(*error);
      }
      return result != nullptr ? *result : JSONValue();
    }
    handler(*message);
    if (!(clock_.now() < deadline)) throw AppServerError::timeout(std::string(method));
  }
}

std::string AppServerProcess::sendRequest(std::string_view method, const JSONValue& params) {
  if (!isRunning() || !inputPipe_) throw AppServerError::notRunning();
  std::string id = newRequestID();
  writeMessageLine(&id, method, params);
  return id;
}

void AppServerProcess::notify(std::string_view method, const JSONValue& params) {
  if (!isRunning() || !inputPipe_) throw AppServerError::notRunning();
  writeMessageLine(nullptr, method, params);
}

JSONValue AppServerProcess::readMessage() {
  if (!process_ || !outputPipe_) throw AppServerError::notRunning();
  return *readNextMessage(std::nullopt);
}

std::optional<JSONValue> AppServerProcess::readMessage(Clock::TimePoint deadline) {
  if (!process_ || !outputPipe_) throw AppServerError::notRunning();
  return readNextMessage(deadline);
}

std::optional<JSONValue> AppServerProcess::takeBufferedMessage() {
  return takeLine();
}

void AppServerProcess::readOutput() {
  if (!process_ || !outputPipe_) throw AppServerError::notRunning();
  std::span<char> space = lineBuffer_.prepareWrite(kReadChunkBytes);
  std::size_t count = outputPipe_->read(space.data(), space.size());
  if (count == 0) throw endOfOutputError();
  lineBuffer_.commit(count);
}

int AppServerProcess::outputDescriptor() const noexcept {
  return outputPipe_ ? outputPipe_->fileDescriptor() : -1;
}

void AppServerProcess::refuseServerRequest(const JSONValue& message) noexcept {
  const JSONValue* id = message.subscript("id");
  const JSONValue* method = message.subscript("method");
  if (id == nullptr || method == nullptr || !inputPipe_) return;
  try {
    writeMessage(JSONValue::object(
        {{"id", *id},
         {"error", JSONValue::object({{"code", -32601},
                                      {"message",
                                       "This client does not support requests from "
                                       "the server."}})}}));
  } catch (...) {
    // The child's input is gone; its output will end and report that.
  }
}

std::optional<JSONValue> AppServerProcess::takeLine() {
  std::optional<AppServerLineBuffer::Line> line = lineBuffer_.takeLine();
  if (!line) return std::nullopt;
  JSONValue message = JSONValue::parse(line->text, line->capacity);
  refuseServerRequest(message);
  return message;
}

std::optional<JSONValue> AppServerProcess::readNextMessage(
    std::optional<Clock::TimePoint> deadline) {
  for (;;) {
    if (std::optional<JSONValue> message = takeLine()) {
      // A streamed piece of the answer is cheap to pass on; anything else may take its
      // handler a while (an image to encode), so what the caller holds goes out first.
      if (idleHandler_) {
        const std::string* method = stringMember(&*message, "method");
        if (method == nullptr || *method != CodexAppServerNotifications::kAgentMessageDelta) {
          idleHandler_();
        }
      }
      return message;
    }
    if (idleHandler_) idleHandler_();
    // Past the deadline, output that is already there is still taken, never waited for.
    if (!outputPipe_->waitReadable(0ms) &&
        !wait_.waitReadable(outputPipe_->fileDescriptor(), deadline)) {
      return std::nullopt;
    }
    // The wait may have served other work on this thread, this child's end included.
    if (!outputPipe_) throw AppServerError::notRunning();
    readOutput();
  }
}

AppServerError AppServerProcess::endOfOutputError() {
  const Clock::TimePoint graceDeadline = clock_.now() + kEndOfOutputGrace;
  std::optional<int32_t> exitCode;
  if (process_ && process_->waitForExit(graceDeadline)) {
    if (std::optional<ProcessExit> exit = process_->exitStatus()) exitCode = exit->code;
  }
  if (stderrReader_) stderrReader_->waitUntilFinished(graceDeadline);
  return AppServerError::unexpectedEOF(exitCode, stderrCapture_.text());
}

void AppServerProcess::stop() noexcept {
  if (!process_) return;
  // Also once the child has ended: what it started may still run in its group. A child that
  // ignores SIGTERM is killed after the grace and reaped, so none is left behind.
  process_->endProcessGroup(kProcessGroupGrace);
  detach();
}

void AppServerProcess::detach() noexcept {
  if (!process_) return;
  // The input first: the child reads its end while the other pipes are still there.
  inputPipe_.reset();
  process_.reset();
  outputPipe_.reset();
  stderrReader_.reset();
  lineBuffer_.clear();
}

}  // namespace vellora
