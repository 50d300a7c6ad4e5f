#!/usr/bin/env bash
# Fails when our sources use a C++ standard library feature that Apple's libc++ does not have
# at the deployment target (CMAKE_OSX_DEPLOYMENT_TARGET, 13.3): the Mac build would then fail,
# or the programs would not start on the oldest macOS we support. Floating-point
# std::to_chars and std::from_chars are within it.
# Usage: scripts/check-apple-library-floor.sh [folder...]   (default: the project's sources;
# test fixtures are skipped)
set -euo pipefail
cd "$(dirname "$0")/.."

# pattern (extended regular expression) | why it is out of reach
FORBIDDEN=(
  '<format>|std::(v?format(_to)?|formatter|make_format_args)\b|<print>|std::println?\b|needs a newer libc++ than macOS 13.3 has'
  '<syncstream>|std::(basic_)?osyncstream\b|not in Apple'"'"'s libc++'
  'std::jthread\b|<stop_token>|std::stop_(token|source|callback)\b|experimental in Apple'"'"'s libc++'
  '<memory_resource>|std::pmr::|needs macOS 14'
  '<execution>|std::execution::|no parallel algorithms in libc++'
  'std::chrono::(current_zone|zoned_time|tzdb|get_tzdb|locate_zone)\b|no time zone database in Apple'"'"'s libc++'
)

folders=("$@")
if ((${#folders[@]} == 0)); then
  folders=(VelloraCore vellora-native-host VelloraCompanion tools tests bench fuzz)
fi

found=0
for entry in "${FORBIDDEN[@]}"; do
  pattern="${entry%|*}"
  reason="${entry##*|}"
  while IFS= read -r hit; do
    echo "$hit: $reason" >&2
    found=1
  done < <(grep -rnE --include='*.cpp' --include='*.h' --include='*.mm' --exclude-dir=fixtures \
             "$pattern" "${folders[@]}" || true)
done
exit "$found"
