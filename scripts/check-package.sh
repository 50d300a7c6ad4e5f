#!/usr/bin/env bash
# Builds the Debian package and checks it as an installed system: dpkg -i, the files and the
# browser manifests, `vellora-client status` and `ping` against the installed host with a scratch
# HOME, the installed companion on its own Xvfb display with a tray (its window must open), then
# dpkg -r (only the conffiles stay) and dpkg -P (nothing stays). The package is purged also when
# a check fails. Needs root (dpkg). Run after the tests, never beside them: while the package is
# installed, system-wide host manifests exist for every browser on the machine.
# Usage: scripts/check-package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
if [[ "$(id -u)" != 0 ]]; then sudo="sudo"; fi

fail() {
  echo "check-package: $*" >&2
  exit 1
}

scripts/package.sh
deb="$(ls build/release/vellora_*.deb | tail -n 1)"
lintian --tag-display-limit 0 --fail-on error "$deb"

scratch="$(mktemp -d)"
pids=()
cleanup() {
  local status=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  if dpkg-query -W -f='${Status}' vellora 2>/dev/null | grep -q "installed"; then
    $sudo dpkg -P vellora >/dev/null || true
  fi
  rm -rf "$scratch"
  exit "$status"
}
trap cleanup EXIT

if dpkg-query -W -f='${Status}' vellora 2>/dev/null | grep -q "installed"; then
  fail "vellora is installed already; remove it first (vellora-client uninstall, dpkg -P vellora)"
fi
$sudo dpkg -i "$deb"
dpkg -L vellora | sort > "$scratch/files"

# The programs, stripped, and the links on PATH.
for program in VelloraCompanion vellora-native-host vellora-client; do
  path="/usr/lib/vellora/$program"
  [[ -x "$path" ]] || fail "$path is missing or not executable"
  if readelf -S "$path" | grep -q '\.symtab'; then fail "$path is not stripped"; fi
done
[[ "$(readlink -f /usr/bin/vellora-client)" == /usr/lib/vellora/vellora-client ]] ||
  fail "/usr/bin/vellora-client does not lead to the client"
[[ "$(readlink -f /usr/bin/vellora-companion)" == /usr/lib/vellora/VelloraCompanion ]] ||
  fail "/usr/bin/vellora-companion does not lead to the companion"
[[ "$(command -v vellora-client)" == /usr/bin/vellora-client ]] || fail "vellora-client is not on PATH"

# The desktop file, the icons, the metainfo and the documents.
desktop=/usr/share/applications/vellora-companion.desktop
grep -qx 'Exec=/usr/lib/vellora/VelloraCompanion' "$desktop" || fail "$desktop: Exec"
grep -qx 'Categories=Development;' "$desktop" || fail "$desktop: Categories"
window_class="$(sed -n 's/^StartupWMClass=//p' "$desktop")"
[[ -n "$window_class" ]] || fail "$desktop has no StartupWMClass"
for size in 16 32 48 64 128 256 512; do
  icon="/usr/share/icons/hicolor/${size}x${size}/apps/vellora.png"
  identify -format '%wx%h' "$icon" | grep -qx "${size}x${size}" || fail "$icon is not ${size} px"
done
[[ -f /usr/share/icons/hicolor/scalable/apps/vellora.svg ]] || fail "the SVG icon is missing"
appstreamcli validate --no-net --pedantic /usr/share/metainfo/com.vellora.companion.metainfo.xml ||
  echo "check-package: the metainfo has remarks (above)"
[[ -f /usr/share/doc/vellora/copyright && -f /usr/share/doc/vellora/changelog.gz ]] ||
  fail "copyright or changelog missing"
if [[ -f /usr/share/vellora/extension/manifest.json ]]; then
  echo "check-package: the packaged extension is in /usr/share/vellora/extension"
else
  echo "check-package: the package holds no extension (none was built)"
fi

# The system-wide manifests: conffiles naming the installed host for the packaged extension.
for folder in /etc/chromium /etc/opt/chrome /etc/opt/edge; do
  manifest="$folder/native-messaging-hosts/com.vellora.companion.json"
  grep -q '"path" : "/usr/lib/vellora/vellora-native-host"' "$manifest" || fail "$manifest: path"
  grep -q '"chrome-extension://gdhafjcfghdlkpdfaieinlkfnddbcblg/"' "$manifest" ||
    fail "$manifest: origin"
  dpkg-query -W -f='${Conffiles}\n' vellora | grep -q " $manifest " ||
    fail "$manifest is not a conffile"
done

# The terminal client against the installed host, as a new user.
home="$scratch/home"
mkdir -p "$home"
HOME="$home" /usr/bin/vellora-client ping | grep -q '"type":"pong"' || fail "ping got no pong"
HOME="$home" /usr/bin/vellora-client status > "$scratch/status" || true
cat "$scratch/status"
# No per-user manifest: the system one for Chrome makes the connection ready.
grep -Eq '^ +nativeHost +ready$' "$scratch/status" || fail "status: the host is not ready"

# The installed companion on a display of its own with a tray.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s "$scratch/display" ]] && break; sleep 0.1; done
export DISPLAY=":$(head -n 1 "$scratch/display")"
trayer --edge top --align right --widthtype request --height 24 --transparent false \
  >/dev/null 2>&1 &
pids+=($!)
sleep 1
mkdir -p "$scratch/runtime" && chmod 700 "$scratch/runtime"
env -i DISPLAY="$DISPLAY" HOME="$home" XDG_RUNTIME_DIR="$scratch/runtime" PATH=/usr/bin:/bin \
  /usr/bin/vellora-companion >"$scratch/companion.log" 2>&1 &
companion=$!
pids+=($companion)
window=""
for _ in $(seq 300); do
  window="$(xdotool search --onlyvisible --name '^Welcome to Vellora$' 2>/dev/null | head -n 1)" &&
    [[ -n "$window" ]] && break
  sleep 0.1
done
[[ -n "$window" ]] || { cat "$scratch/companion.log"; fail "the companion's window did not open"; }
xprop -id "$window" WM_CLASS | grep -q "\"$window_class\"" ||
  fail "the window's class is not StartupWMClass $window_class"
sleep 3
mkdir -p build/release/screenshots
import -window root build/release/screenshots/package-companion.png
kill "$companion"

# Removing keeps the conffiles only; purging leaves nothing.
$sudo dpkg -r vellora
while read -r path; do
  [[ -d "$path" && ! -L "$path" ]] && continue
  case "$path" in
    /etc/*/native-messaging-hosts/com.vellora.companion.json) [[ -e "$path" ]] || fail "dpkg -r removed $path" ;;
    *) [[ ! -e "$path" && ! -L "$path" ]] || fail "dpkg -r left $path" ;;
  esac
done < "$scratch/files"
$sudo dpkg -P vellora
while read -r path; do
  case "$path" in
    /etc/*/native-messaging-hosts* | /usr/lib/vellora* | /usr/share/vellora* | /usr/share/doc/vellora*)
      [[ ! -e "$path" && ! -L "$path" ]] || fail "dpkg -P left $path" ;;
    *) [[ -d "$path" && ! -L "$path" ]] || [[ ! -e "$path" && ! -L "$path" ]] || fail "dpkg -P left $path" ;;
  esac
done < "$scratch/files"
echo "check-package: $deb installs, works and purges cleanly"
