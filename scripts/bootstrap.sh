#!/usr/bin/env bash
# Installs the system packages that the build, tests, benchmarks and fuzzers need.
# Debian 12: apt-get (as root, or through sudo). Quick when everything is present.
# macOS: prints the Homebrew formulae to install.
set -euo pipefail

DEBIAN_PACKAGES=(
  build-essential dpkg-dev cmake ninja-build pkg-config clang clang-format clang-tidy libclang-rt-14-dev
  libsimdjson-dev libicu-dev libre2-dev libspng-dev libwebp-dev libturbojpeg0-dev
  uuid-dev libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  zsh chromium
  qt6-base-dev qt6-svg-dev
  xvfb trayer xdotool x11-utils imagemagick libxcb1-dev
  lintian appstream python3
)
# Each a formula of homebrew/core (icu4c is the alias of the current icu4c@NN; stb has none and
# comes from third_party/stb).
HOMEBREW_FORMULAE=(cmake ninja pkgconf simdjson icu4c re2 libspng webp jpeg-turbo googletest
  google-benchmark cpp-httplib node qt)

if [[ "$(uname -s)" == "Darwin" ]]; then
  echo "On macOS, install the dependencies with Homebrew:"
  echo "  brew install ${HOMEBREW_FORMULAE[*]}"
  echo '  eval "$(brew shellenv)"   # sets HOMEBREW_PREFIX, which the macos presets read'
  # The release build compiles simdjson, libspng and RE2 from their pinned sources.
  exec "$(dirname "$0")/fetch-debian-sources.sh"
fi

missing=()
for package in "${DEBIAN_PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
# Node.js and npm may come from elsewhere than Debian (the machine image ships its own).
if ! command -v npm >/dev/null 2>&1; then
  missing+=(nodejs npm)
fi
if ((${#missing[@]} > 0)); then
  sudo=""
  if [[ "$(id -u)" != 0 ]]; then sudo="sudo"; fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The extension's build and browser tests need Node.js 20 or newer (Debian 12's own nodejs is 18).
node_major="$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null || echo 0)"
if ((node_major < 20)); then
  echo "Node.js 20 or newer is needed to build apps/extension; found ${node_major/#0/none}." >&2
  echo "Install a current Node.js (for example from the npm registry's 'node' package) and run again." >&2
  exit 1
fi

# The release build links statically; simdjson and libspng come from their Debian sources.
"$(dirname "$0")/fetch-debian-sources.sh"
