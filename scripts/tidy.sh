#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy, each finding an error) over the core and the host,
# with the compile commands of a configured build.
# Usage: scripts/tidy.sh [build-dir]   (default build/dev)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${1:-build/dev}"
[[ -f "$BUILD_DIR/compile_commands.json" ]] || { echo "Configure $BUILD_DIR first." >&2; exit 2; }

# The Apple files do not compile here. The build's GCC warning options are unknown to clang.
files=$(git ls-files 'VelloraCore/*.cpp' 'vellora-native-host/*.cpp' | grep -v '/Apple/')
# clang-tidy counts the compiler's warnings it hid, even with --quiet; only findings are shown.
status=0
echo "$files" | xargs -P "$(nproc)" -n 4 clang-tidy -p "$BUILD_DIR" --quiet \
  --extra-arg=-Wno-unknown-warning-option 2>&1 |
  { grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' || true; } || status=$?
if ((status != 0)); then
  echo "tidy: clang-tidy found the faults above" >&2
  exit "$status"
fi
echo "tidy: $(echo "$files" | wc -l) files without a finding"
