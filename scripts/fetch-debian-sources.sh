#!/usr/bin/env bash
# Unpacks the Debian source packages of simdjson and libspng, which Debian ships without static
# archives, for the release build's static linking (cmake/Dependencies.cmake compiles them).
# Destination: $VELLORA_DEBIAN_SOURCE_DIR or ~/.cache/vellora/debian-src. Quick when present.
# Adds a deb-src entry for Debian's own archive when the machine has none (needs root or sudo).
# macOS has no apt-get source: there the same releases' original archives (and RE2's, which
# Homebrew builds only against shared abseil libraries) come from Debian's archive, checked
# against the checksums of Debian's source packages.
set -euo pipefail

SOURCES=(simdjson=3.0.1-1 libspng=0.7.3-3)
FOLDERS=(simdjson-3.0.1 libspng-0.7.3)
destination="${VELLORA_DEBIAN_SOURCE_DIR:-$HOME/.cache/vellora/debian-src}"

if [[ "$(uname -s)" == "Darwin" ]]; then
  POOL=https://deb.debian.org/debian/pool/main
  # folder | archive path in the pool | SHA-256 (from the package's .dsc)
  ARCHIVES=(
    "simdjson-3.0.1|s/simdjson/simdjson_3.0.1.orig.tar.gz|156b1bc5eb0561b2bd166b46d191fd3d95a3e709cc63761477d3b7aec2b6e9ed"
    "libspng-0.7.3|libs/libspng/libspng_0.7.3.orig.tar.gz|a50cadbe808ffda1a7fab17d145f52a23b163f34b3eb3696c7ecb5a52340fc1d"
    "re2-2022-06-01|r/re2/re2_20220601+dfsg.orig.tar.xz|3bc61251da3b0b97be40a8a127818c517c62516e4eda11fc901d29496663df54"
  )
  mkdir -p "$destination"
  for entry in "${ARCHIVES[@]}"; do
    IFS='|' read -r folder path sha256 <<<"$entry"
    [[ -d "$destination/$folder" ]] && continue
    archive="$destination/${path##*/}"
    curl -fsSL -o "$archive" "$POOL/$path"
    if [[ "$(shasum -a 256 "$archive" | cut -d' ' -f1)" != "$sha256" ]]; then
      echo "${path##*/}: checksum mismatch; not unpacked" >&2
      rm -f "$archive"
      exit 1
    fi
    tar -xf "$archive" -C "$destination"
    rm -f "$archive"
  done
  exit 0
fi

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
