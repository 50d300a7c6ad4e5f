#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "VelloraCore/AppServer/AppServerError.h"
#include "VelloraCore/AppServer/AppServerLineBuffer.h"
#include "VelloraCore/AppServer/CodexAppServerCommand.h"
#include "VelloraCore/Platform/Clock.h"
#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

class BackgroundReader;
class ByteStream;
class FileSystem;
class Process;
class ProcessLauncher;
class ReadinessWait;

// Owns one `codex app-server` child and is the only code that touches its pipes: JSON-RPC
// requests and notifications go out as single lines on its standard input, newline-framed
// messages come back on its standard output, and the last 8192 bytes of its standard error are
// kept for error texts (which show them without terminal escape sequences and control
// characters).
//
// Every operation runs on the caller's thread and blocks it; one thread uses the object at a
// time. Only the standard-error reader runs on a thread of its own; it shares nothing but the
// standard-error tail, under one mutex. Failures are AppServerError unless stated otherwise.
class AppServerProcess {
 public:
  // Receives, on the calling thread, every message read that is not the awaited response.
  using OutputHandler = std::function<void(const JSONValue&)>;

  // Starts nothing. `environment` (this process's own) and `homeDirectory` (the current
  // user's) are the base of the child's environment. Waits for the child's output go through
  // `wait` (without one, a plain poll). `launcher`, `clock` and `wait` must outlive the object.
  AppServerProcess(std::string codexPath, std::string workspaceDirectory,
                   OutputHandler outputHandler, ProcessLauncher& launcher, const Clock& clock,
                   Environment environment, std::string homeDirectory,
                   ReadinessWait* wait = nullptr);
  // stop()
  ~AppServerProcess();
  AppServerProcess(const AppServerProcess&) = delete;
  AppServerProcess& operator=(const AppServerProcess&) = delete;

  const std::string& codexPath() const noexcept { return codexPath_; }
  const std::string& workspaceDirectory() const noexcept { return workspaceDirectory_; }

  // A child has been started, not stopped, and has not ended.
  bool isRunning() const noexcept;

  // Creates the working directory (with its parents) and starts `codex app-server -c notify=[]`
  // there, with the environment of CodexProcessEnvironment and pipes on all three streams, as
  // the leader of a process group of its own.
  // Does nothing while a child runs. Throws the file system's or the launcher's error
  // unchanged; a failed start leaves the previous child's handles as they were.
  void start(FileSystem& fileSystem);

  // Sends {"id", "method", "params"} with a new id ("vellora_" + an upper-case random UUID)
  // and returns the response's "result" (null when it has none). Messages that arrive first
  // go to the output handler in order; a request from the server among them (a message with
  // both "id" and "method") is first answered with a JSON-RPC error (-32601). Throws notRunning
  // when no child runs (nothing is written), server with the response's "error" member (an
  // "error" of null beside a "result" is a success), timeout
  // when no response came before `timeout` (waiting for output stops at the deadline; the late
  // response goes to the handler later), unexpectedEOF when the output ends, JSONError for a line
  // that is not JSON, IOError when the child's input is gone.
  JSONValue request(std::string_view method, const JSONValue& params, Seconds timeout);
  // request() with the method's own time-out.
  JSONValue request(const CodexAppServerMethod& method, const JSONValue& params) {
    return request(method.name, params, method.timeout);
  }
  // request(), handing the messages that arrive before the response to `handler` instead of
  // the output handler (a running turn takes every message from the moment it is started).
  JSONValue request(const CodexAppServerMethod& method, const JSONValue& params,
                    const OutputHandler& handler);
  JSONValue request(std::string_view method, const JSONValue& params, Seconds timeout,
                    const OutputHandler& handler);

  // Writes a request like request() and returns its id without waiting: its response comes
  // back later as an ordinary message. Throws notRunning or IOError.
  std::string sendRequest(std::string_view method, const JSONValue& params);

  // Sends {"method", "params"}; awaits nothing. Throws notRunning or IOError.
  void notify(std::string_view method, const JSONValue& params);

  // The next message, waiting as long as it takes. Output the child wrote before it ended is
  // still read; after it, unexpectedEOF. Throws notRunning when no child was started or it
  // was stopped, and JSONError for a line that is not JSON (the rest stays unread).
  JSONValue readMessage();
  // readMessage(), giving up at `deadline` (monotonic): nothing when no whole message arrived
  // by then. Output that is already there is still taken after the deadline.
  std::optional<JSONValue> readMessage(Clock::TimePoint deadline);
  // For a caller that polls the output itself: the next message already read, if any, without
  // reading. Throws as readMessage() for a line that is not JSON.
  std::optional<JSONValue> takeBufferedMessage();
  // Reads what the output holds with one read, which blocks unless poll() said it is readable.
  // Throws unexpectedEOF at its end, notRunning without a child, IOError.
  void readOutput();
  // The descriptor of the child's standard output, for poll(); -1 when there is none.
  int outputDescriptor() const noexcept;

  // Called on the reading thread when no further message is ready: before waiting for the
  // child's output, and before handing on a message other than an answer delta (whose handling
  // may take a while). A caller that batches its own output sends it there, so nothing it
  // holds waits for the child. Must not throw.
  using IdleHandler = std::function<void()>;
  void setIdleHandler(IdleHandler handler) { idleHandler_ = std::move(handler); }

  // Asks the child's process group to end (SIGTERM, SIGKILL after kProcessGroupGrace) without
  // waiting for it, and drops the pipes and the standard-error reader. The child is reaped
  // whenever it goes.
  void stop() noexcept;
  // Closes the child's standard input and leaves it to end on its own, as a child whose parent
  // has gone would: no signal. Drops the pipes and the standard-error reader like stop().
  void detach() noexcept;

 private:
  struct StderrCapture {
    static constexpr std::size_t kMaxBytes = 8192;
    std::mutex lock;
    std::string buffer;

    void append(std::string_view bytes);
    void clear();
    // The kept bytes as trimmed text; nothing when empty or not UTF-8.
    std::optional<std::string> text();
  };

  void writeMessage(const JSONValue& message);
  // Writes a request (with `id`) or a notification (without) as one line.
  void writeMessageLine(const std::string* id, std::string_view method, const JSONValue& params);
  void releaseLineBuffer() noexcept;
  // A request from the server gets an error response at once: nothing here answers requests,
  // and one left unanswered would hold a turn, which has no time-out, for ever.
  void refuseServerRequest(const JSONValue& message) noexcept;
  // The next message, or nothing once `deadline` (if any) has passed with no complete line.
  std::optional<JSONValue> readNextMessage(std::optional<Clock::TimePoint> deadline);
  // The next complete line, parsed (a request from the server refused); nothing without one.
  std::optional<JSONValue> takeLine();
  // Waits briefly for the child's exit and the rest of its standard error, then describes it.
  AppServerError endOfOutputError();

  const std::string codexPath_;
  const std::string workspaceDirectory_;
  const OutputHandler outputHandler_;
  ProcessLauncher& launcher_;
  const Clock& clock_;
  const Environment environment_;
  const std::string homeDirectory_;
  std::unique_ptr<ReadinessWait> ownWait_;
  ReadinessWait& wait_;

  // Declared before the reader that writes into it, so that it outlives the reader.
  StderrCapture stderrCapture_;
  std::unique_ptr<Process> process_;
  std::unique_ptr<ByteStream> inputPipe_;
  std::unique_ptr<ByteStream> outputPipe_;
  // Owns the error pipe.
  std::unique_ptr<BackgroundReader> stderrReader_;
  AppServerLineBuffer lineBuffer_;
  // Where request lines are made; kept between lines unless one was long.
  std::string lineOut_;
  IdleHandler idleHandler_;
};

}  // namespace vellora
