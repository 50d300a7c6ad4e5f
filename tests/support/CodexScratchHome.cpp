#include "tests/support/CodexScratchHome.h"

#include <cstdlib>
#include <iterator>

#include "VelloraCore/Platform/FileSystem.h"

namespace vellora::test {

CodexScratchHome::CodexScratchHome(const Options& options) {
  writeConfiguration(options);
}

void CodexScratchHome::writeConfiguration(const Options& options) const {
  const std::string port = std::to_string(options.modelServerPort);
  home_.writeFile(".codex/config.toml",
                  "model = \"gpt-5.5\"\n"
                  "model_provider = \"vellora_test\"\n"
                  "\n"
                  "[model_providers.vellora_test]\n"
                  "name = \"Vellora test model server\"\n"
                  "base_url = \"http://127.0.0.1:" +
                      port +
                      "/v1\"\n"
                      "wire_api = \"responses\"\n"
                      "env_key = \"" +
                      std::string(kModelKeyVariable) +
                      "\"\n"
                      "request_max_retries = " +
                      std::to_string(options.requestMaxRetries) +
                      "\n"
                      "stream_max_retries = " +
                      std::to_string(options.streamMaxRetries) +
                      "\n"
                      "\n"
                      // With plugins on, Codex looks up github.com for its plugin marketplace; the
                      // tests stay on 127.0.0.1. plugin/list still answers, with no marketplaces.
                      "[features]\n"
                      "plugins = false\n");
}

void CodexScratchHome::signIn() const {
  home_.writeFile(".codex/auth.json",
                  R"({"auth_mode":"apikey","OPENAI_API_KEY":"sk-vellora-test-key"})", 0600);
}

void CodexScratchHome::signOut() const {
  makePosixFileSystem()->removeTree(home_ / ".codex/auth.json");
}

Environment CodexScratchHome::environment(Environment base) const {
  for (auto it = base.begin(); it != base.end();) {
    const bool redirectsCodex = it->first.starts_with("CODEX_") || it->first.starts_with("OPENAI_");
    it = redirectsCodex ? base.erase(it) : std::next(it);
  }
  base["HOME"] = path();
  base[std::string(kModelKeyVariable)] = "vellora-test-key";
  return base;
}

std::optional<std::string> CodexScratchHome::realCodexPath() {
  auto fileSystem = makePosixFileSystem();
  if (const char* configured = std::getenv("VELLORA_REAL_CODEX"); configured && *configured) {
    return fileSystem->isExecutableFile(configured) ? std::optional<std::string>(configured)
                                                    : std::nullopt;
  }
  // Where scripts/install-codex.sh installs the pinned version.
  std::string cache;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) {
    cache = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    cache = std::string(home) + "/.cache";
  } else {
    return std::nullopt;
  }
  const std::string installed = cache + "/vellora/codex-0.171.0/node_modules/.bin/codex";
  if (!fileSystem->isExecutableFile(installed)) return std::nullopt;
  return installed;
}

}  // namespace vellora::test
