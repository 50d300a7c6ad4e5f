#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "VelloraCore/Platform/Environment.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora::test {

// A temporary HOME in which the real Codex runs offline: HOME/.codex/config.toml makes a model
// server on 127.0.0.1 (a FakeModelServer) the model provider, so turns need no sign-in and no
// network. Removed with everything in it at destruction.
//
//   FakeModelServer server;
//   CodexScratchHome home({.modelServerPort = server.port()});
//   launch(*CodexScratchHome::realCodexPath(), {"app-server", "-c", "notify=[]"},
//          home.environment());
class CodexScratchHome {
 public:
  struct Options {
    // The FakeModelServer's port; Codex posts to http://127.0.0.1:PORT/v1/responses.
    int modelServerPort = 0;
    // How often Codex retries a failed model request, and a failed response stream. Each retry
    // of the stream is announced by an "error" notification with "willRetry": true.
    int requestMaxRetries = 0;
    int streamMaxRetries = 0;
  };

  // The environment variable that holds the provider's key; environment() sets it.
  static constexpr std::string_view kModelKeyVariable = "VELLORA_TEST_MODEL_KEY";

  explicit CodexScratchHome(const Options& options);

  // The HOME directory.
  const std::string& path() const { return home_.path(); }
  // HOME/.codex
  std::string codexHomeDirectory() const { return home_ / ".codex"; }

  // Rewrites config.toml, for example to point Codex at another port.
  void writeConfiguration(const Options& options) const;
  // Writes HOME/.codex/auth.json holding an API key, which Codex and the sign-in check accept
  // as a sign-in. signOut() removes it.
  void signIn() const;
  void signOut() const;

  // `base` with HOME set to this directory and the provider key variable set. Variables that
  // would send Codex elsewhere (CODEX_HOME and the other CODEX_ and OPENAI_ variables) are
  // removed; PATH is kept, since the npm `codex` needs `node` from it.
  Environment environment(Environment base = currentProcessEnvironment()) const;

  // The Codex used by the contract tests: $VELLORA_REAL_CODEX when set (the test script sets it),
  // else the pinned version where scripts/install-codex.sh puts it, when it exists there.
  // Nothing when neither is there; contract tests then skip.
  static std::optional<std::string> realCodexPath();

 private:
  TemporaryDirectory home_;
};

}  // namespace vellora::test
