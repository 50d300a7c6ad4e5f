#!/usr/bin/env bash
# Runs every libFuzzer target of the asan build for a bounded time each.
# Usage: scripts/fuzz.sh [seconds-per-target] [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET="${1:-30}"
BUILD_DIR="${2:-build/asan}"

shopt -s nullglob
targets=("$BUILD_DIR"/fuzz/*_fuzzer)
if ((${#targets[@]} == 0)); then
  echo "No fuzz targets in $BUILD_DIR/fuzz; build the asan preset first." >&2
  exit 1
fi
for target in "${targets[@]}"; do
  name="$(basename "$target")"
  corpus="$BUILD_DIR/fuzz-corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [[ -d "fuzz/corpus/$name" ]] && seeds=("fuzz/corpus/$name")
  echo "== $name: ${SECONDS_PER_TARGET}s"
  ASAN_OPTIONS=detect_leaks=1 "$target" "$corpus" "${seeds[@]}" \
    -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2560 -max_len=65536 \
    -artifact_prefix="$BUILD_DIR/fuzz-" -print_final_stats=0 2>&1 | tail -n 3
  status=${PIPESTATUS[0]}
  if ((status != 0)); then
    echo "$name failed (status $status); the input is in $BUILD_DIR/fuzz-*" >&2
    exit "$status"
  fi
done
echo "fuzzing: ${#targets[@]} targets ran ${SECONDS_PER_TARGET}s each without a failure"
