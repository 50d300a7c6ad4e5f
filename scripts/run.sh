#!/usr/bin/env bash
# Builds everything (release) and holds a short conversation with the native host through the
# terminal client, exactly as Chrome would start it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
cmake --preset release >/dev/null
cmake --build --preset release

client=build/release/tools/vellora-client
echo "== ping"
"$client" ping
echo "== a request type the host does not know"
"$client" send '{"type":"hello","requestId":"r2"}'
