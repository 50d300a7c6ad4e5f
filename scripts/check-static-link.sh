#!/usr/bin/env bash
# Fails when a program needs a shared library other than the C library's own (libc, libm and
# the dynamic loader): the release programs carry every other library themselves.
# Usage: scripts/check-static-link.sh PROGRAM...
set -euo pipefail
status=0
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
