#!/usr/bin/env bash
# Run as root on Debian 12, after `make package`: installs the package with
# apt-get, starts the installed program on a virtual X display, closes it with
# Esc, removes the package and checks that none of its files is left.
# Usage: package_check.sh [BUILD_DIR]
set -eu

# Second stage, on the virtual display: start the program, wait for its window, press Esc.
if [ "${1:-}" = --on-display ]; then
  /usr/bin/mailsender &
  pid=$!
  window=""
  for _ in $(seq 150); do
    window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1) || true
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || { echo "FAIL: mailsender exited before showing a window"; exit 1; }
    sleep 0.2
  done
  if [ -z "$window" ]; then
    echo "FAIL: no window of mailsender appeared"; kill "$pid"; wait "$pid" || true; exit 1
  fi
  echo "window $window: '$(xdotool getwindowname "$window")'," \
    "$(xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')"
  xdotool windowfocus --sync "$window" key Escape
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "FAIL: Esc did not close the window"; kill "$pid"; wait "$pid" || true; exit 1
  fi
  status=0; wait "$pid" || status=$?
  [ "$status" -eq 0 ] || { echo "FAIL: mailsender exited with status $status"; exit 1; }
  exit 0
fi

build=${1:-build}
[ "$(id -u)" -eq 0 ] || { echo "package-check installs a package: run it as root"; exit 1; }
deb=$(ls -t "$build"/mailsender_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "no package in $build: run make package"; exit 1; }
deb=$(realpath "$deb")
echo "checking $deb"

# Tools of this check only.
tools=(xvfb xauth xdotool x11-utils desktop-file-utils)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

installed() { dpkg-query -W -f='${Status}' mailsender 2>/dev/null | grep -q "install ok installed"; }
remove() { DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq mailsender >/dev/null; }
work=$(mktemp -d)
trap 'if installed; then remove; fi; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# An earlier run that stopped half-way may have left the package installed.
if installed; then remove; fi

mapfile -t files < <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }')
[ ${#files[@]} -gt 0 ] || { echo "FAIL: the package holds no files"; exit 1; }
for f in "${files[@]}"; do [ ! -e "$f" ] || fail "$f exists before the package is installed"; done

# dpkg-shlibdeps lists the Qt libraries the program links; Widgets pulls in the rest.
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 qt6-qpa-plugins fonts-wqy-microhei; do
  grep -qE "(^|, )$d( |,|$)" <<<"$depends" || fail "Depends lacks $d: $depends"
done

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
installed || { echo "FAIL: apt-get did not install mailsender"; exit 1; }
[ "$(dpkg-query -W -f='${Version}' mailsender)" = "$(dpkg-deb -f "$deb" Version)" ] ||
  fail "installed version differs from the package's"
for f in "${files[@]}"; do [ -e "$f" ] || fail "$f is missing after install"; done
desktop-file-validate /usr/share/applications/mailsender.desktop || fail "launcher entry is not valid"
! ldd /usr/bin/mailsender | grep "not found" || fail "a library of mailsender is not installed"

# The program writes its settings into the desktop folder: give it a home of its own.
mkdir -p "$work/home/Desktop" "$work/run"
chmod 700 "$work/run"
HOME=$work/home XDG_RUNTIME_DIR=$work/run \
  xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --on-display || fail "the window check failed"
settings="$work/home/Desktop/邮件发送配置.ini"
if [ -e "$settings" ]; then
  mode=$(stat -c %a "$settings")
  [ "$mode" = 600 ] || fail "settings file has mode $mode, not 600"
else
  echo "note: no settings file at $settings after closing"
fi

remove
! installed || fail "mailsender is still installed after apt-get remove"
for f in "${files[@]}" /var/lib/dpkg/info/mailsender.*; do
  [ ! -e "$f" ] || fail "$f is left after apt-get remove"
done

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "package check: all checks passed"
