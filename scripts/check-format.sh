#!/usr/bin/env bash
# Fails when a C++ file differs from what clang-format (the repository's .clang-format) makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
# third_party/ holds others' code as they wrote it.
git ls-files '*.cpp' '*.h' ':!:third_party/*' | xargs clang-format --dry-run -Werror
echo "format: clean"
