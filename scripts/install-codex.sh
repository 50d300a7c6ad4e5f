#!/usr/bin/env bash
# Installs the pinned Codex CLI from npm into a cache folder outside the clone, once, and prints
# the path of its `codex` executable. The contract tests run against it.
set -euo pipefail

VERSION=0.171.0
PREFIX="${XDG_CACHE_HOME:-$HOME/.cache}/vellora/codex-$VERSION"
CODEX="$PREFIX/node_modules/.bin/codex"

if [[ ! -x "$CODEX" ]] || ! "$CODEX" --version >/dev/null 2>&1; then
  echo "Installing @openai/codex@$VERSION into $PREFIX" >&2
  mkdir -p "$PREFIX"
  npm install --prefix "$PREFIX" --no-audit --no-fund --loglevel=error "@openai/codex@$VERSION" >&2
fi
echo "$CODEX"
