#!/usr/bin/env bash
# Builds everything (release) and talks to the native host through the terminal client, exactly
# as Chrome would start it: a ping, the health report, and one chat turn about a sample page.
# With Codex installed and signed in the turn's answer streams in; without, the host's error
# message is shown instead.
# With --companion it starts the companion on the current display instead (its status item in
# the system tray and the welcome window), with the host built beside it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release

if [[ "${1:-}" == "--companion" ]]; then
  if [[ "$(uname -s)" != "Darwin" && -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display: run this inside a desktop session (DISPLAY or WAYLAND_DISPLAY)." >&2
    exit 1
  fi
  exec build/release/VelloraCompanion/Qt/VelloraCompanion
fi

client=build/release/tools/vellora-client
echo "== ping"
"$client" ping
echo "== health"
"$client" health
echo "== chat turn"
"$client" chat --prompt "In one sentence, what is this page about?" \
  --context tools/sample-page-context.json || true
