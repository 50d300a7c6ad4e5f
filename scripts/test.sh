#!/usr/bin/env bash
# Builds and runs the whole test suite: installs what it needs, then the plain build's tests,
# clang-tidy over the core and the host, the release programs' static linking, the ASan+UBSan
# build's tests, the threaded parts' tests under ThreadSanitizer, each fuzz target for a short
# bounded time, and last the Debian package, installed and purged again.
# Usage: scripts/test.sh [--quick]   (--quick: the plain build's tests only)
set -euo pipefail
cd "$(dirname "$0")/.."

quick=false
[[ "${1:-}" == "--quick" ]] && quick=true

scripts/bootstrap.sh
scripts/check-format.sh
VELLORA_REAL_CODEX="$(scripts/install-codex.sh)"
export VELLORA_REAL_CODEX

cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev

if ! $quick; then
  scripts/tidy.sh build/dev

  # The release programs as they ship: linked statically.
  cmake --preset release >/dev/null
  cmake --build --preset release --target vellora-native-host vellora-client
  ctest --preset release -R ShippedProgramsNeedOnlyTheCLibrary

  cmake --preset asan >/dev/null
  cmake --build --preset asan
  ctest --preset asan
  scripts/fuzz.sh "${VELLORA_FUZZ_SECONDS:-30}" build/asan

  # The threaded parts: the companion's model and its worker queue, the process launcher, and
  # the app-server child with its standard-error reader.
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan --target CompanionModelTests PlatformTests AppServerTests
  ctest --preset tsan -j2 -L "^(CompanionModelTests|PlatformTests|AppServerTests)$"

  # After every test: while the package is installed, its system-wide host manifests exist.
  scripts/check-package.sh
fi
