#!/usr/bin/env bash
# macOS: makes build/macos-release/Vellora.app self-contained and, when a signing identity is
# given, signs, notarises and staples it. Written for the Mac; a Linux machine cannot run it.
# Usage: scripts/bundle-macos.sh [build folder]   (default build/macos-release)
#   VELLORA_SIGNING_IDENTITY  "Developer ID Application: …"; without it the bundle is left
#                             unsigned (ad-hoc) and the signing steps are skipped.
#   VELLORA_NOTARY_PROFILE    a `xcrun notarytool store-credentials` profile; without it the
#                             signed bundle is not notarised.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ "$(uname -s)" != "Darwin" ]]; then
  echo "bundle-macos.sh runs on macOS only" >&2
  exit 1
fi

build="${1:-build/macos-release}"
app="$build/Vellora.app"
cmake --build "$build" --target VelloraApp
host="$app/Contents/MacOS/vellora-native-host"

# Qt's frameworks and plugins into Contents/Frameworks and Contents/PlugIns. The host is named
# too, so that macdeployqt fixes its references as well (it links no Qt; it is left unchanged
# then).
macdeployqt "$app" -executable="$host" -always-overwrite

identity="${VELLORA_SIGNING_IDENTITY:-}"
if [[ -z "$identity" ]]; then
  echo "No VELLORA_SIGNING_IDENTITY: $app is deployed but not signed."
  exit 0
fi

# Inside out: a signature covers what is nested in it, so everything inside is signed first.
# 1. The host, with its own identifier: Chrome starts it outside the application.
codesign --force --options runtime --timestamp --sign "$identity" \
  --identifier com.vellora.Vellora.native-host "$host"
# 2. Qt's frameworks and plugins.
find "$app/Contents/Frameworks" -maxdepth 1 -name '*.framework' -print0 |
  xargs -0 -I{} codesign --force --options runtime --timestamp --sign "$identity" {}
find "$app/Contents/PlugIns" -name '*.dylib' -print0 |
  xargs -0 -I{} codesign --force --options runtime --timestamp --sign "$identity" {}
# 3. The application itself, last.
codesign --force --options runtime --timestamp --sign "$identity" "$app"
codesign --verify --deep --strict --verbose=2 "$app"

profile="${VELLORA_NOTARY_PROFILE:-}"
if [[ -z "$profile" ]]; then
  echo "No VELLORA_NOTARY_PROFILE: $app is signed but not notarised."
  exit 0
fi
archive="$build/Vellora.zip"
ditto -c -k --keepParent "$app" "$archive"
xcrun notarytool submit "$archive" --keychain-profile "$profile" --wait
xcrun stapler staple "$app"
rm -f "$archive"
echo "$app: signed, notarised and stapled."
