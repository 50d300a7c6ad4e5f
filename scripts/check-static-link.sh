#!/usr/bin/env bash
# Fails when a program needs a shared library other than the system's own: the release programs
# carry every other library themselves.
#   Linux: the C library's (libc, libm and the dynamic loader), read with readelf.
#   macOS: libc++, libSystem and CoreFoundation, read with `otool -L` (Apple supports no static
#   C++ runtime, and zlib is the system's).
# Usage: scripts/check-static-link.sh PROGRAM...
set -euo pipefail
status=0
if [[ "$(uname -s)" == "Darwin" ]]; then
  for program in "$@"; do
    while read -r library; do
      case "$library" in
        /usr/lib/libc++.1.dylib | /usr/lib/libSystem.B.dylib | /usr/lib/libz.1.dylib) ;;
        /System/Library/Frameworks/CoreFoundation.framework/*) ;;
        *)
          echo "$program needs $library at run time"
          status=1
          ;;
      esac
    done < <(otool -L "$program" | tail -n +2 | awk '{print $1}')
  done
  exit $status
fi
for program in "$@"; do
  while read -r library; do
    case "$library" in
      libc.so.* | libm.so.* | ld-linux*.so.*) ;;
      *)
        echo "$program needs $library at run time"
        status=1
        ;;
    esac
  done < <(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
done
exit $status
