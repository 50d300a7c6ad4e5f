#!/usr/bin/env bash
# Builds the Debian package from the release build: build/release/vellora_<version>_<arch>.deb.
# The extension comes from VELLORA_EXTENSION_DIR, else apps/extension/dist; without a
# manifest.json there the package is built without it (the install step warns).
# Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# Passed every time, so that a folder named by an earlier run does not stay in the cache.
cmake --preset release "-DVELLORA_EXTENSION_DIR=${VELLORA_EXTENSION_DIR:-}" >/dev/null
# Only what the package holds: the tests and benchmarks of the release build are not needed.
cmake --build --preset release --target VelloraCompanion vellora-native-host vellora-client \
  VelloraIcons VelloraChangelog
(cd build/release && cpack -G DEB)
ls build/release/vellora_*.deb
