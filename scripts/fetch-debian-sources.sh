#!/usr/bin/env bash
# Unpacks the Debian source packages of simdjson and libspng, which Debian ships without static
# archives, for the release build's static linking (cmake/Dependencies.cmake compiles them).
# Destination: $VELLORA_DEBIAN_SOURCE_DIR or ~/.cache/vellora/debian-src. Quick when present.
# Adds a deb-src entry for Debian's own archive when the machine has none (needs root or sudo).
set -euo pipefail

SOURCES=(simdjson=3.0.1-1 libspng=0.7.3-3)
FOLDERS=(simdjson-3.0.1 libspng-0.7.3)
destination="${VELLORA_DEBIAN_SOURCE_DIR:-$HOME/.cache/vellora/debian-src}"

present=true
for folder in "${FOLDERS[@]}"; do
  [[ -d "$destination/$folder" ]] || present=false
done
if $present; then exit 0; fi

sudo=""
if [[ "$(id -u)" != 0 ]]; then sudo="sudo"; fi
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  # The same archives the machine installs binary packages from, as source entries.
  echo "Adding source entries (deb-src) for the machine's Debian archives"
  list=/etc/apt/sources.list.d/vellora-deb-src
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ -f "$file" && "$file" != "$list.sources" ]] || continue
    sed -E 's/^Types:.*/Types: deb-src/' "$file"
    echo
  done | $sudo tee "$list.sources" >/dev/null
  grep -hsE '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
    sed 's/^deb /deb-src /' | $sudo tee "$list.list" >/dev/null || true
  $sudo apt-get update -qq
fi

mkdir -p "$destination"
work="$(mktemp -d "$destination/.fetch-XXXXXX")"
trap 'rm -rf "$work"' EXIT
# As root, apt would warn that its unprivileged sandbox user cannot reach the folder.
sandbox=()
if [[ "$(id -u)" == 0 ]]; then sandbox=(-o APT::Sandbox::User=root); fi
(cd "$work" && apt-get source -qq "${sandbox[@]}" "${SOURCES[@]}" >/dev/null)
for folder in "${FOLDERS[@]}"; do
  rm -rf "${destination:?}/$folder"
  mv "$work/$folder" "$destination/$folder"
done
