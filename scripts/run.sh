#!/usr/bin/env bash
# Builds everything (release) and talks to the native host through the terminal client, exactly
# as Chrome would start it: a ping, the health report, and one chat turn about a sample page.
# With Codex installed and signed in the turn's answer streams in; without, the host's error
# message is shown instead.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release

client=build/release/tools/vellora-client
echo "== ping"
"$client" ping
echo "== health"
"$client" health
echo "== chat turn"
"$client" chat --prompt "In one sentence, what is this page about?" \
  --context tools/sample-page-context.json || true
