#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop needs
# there: the program, a valid launcher entry that starts it and names its icon,
# the icons at their sizes, and nothing else.
# Usage: install_check.sh CMAKE BUILD_DIR VERSION
set -eu
cmake=$1 build=$2 version=$3

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

apps=share/applications/mailsender.desktop
icons=share/icons/hicolor
expected=$(printf '%s\n' bin/mailsender "$apps" \
  "$icons/48x48/apps/mailsender.png" "$icons/256x256/apps/mailsender.png" \
  "$icons/scalable/apps/mailsender.svg" | sort)
installed=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort)
[ "$installed" = "$expected" ] ||
  fail "installed files differ from the expected ones:
$(diff <(echo "$expected") <(echo "$installed") || true)"

[ -x "$prefix/bin/mailsender" ] || fail "bin/mailsender is not executable"

entry=$prefix/$apps
if [ -f "$entry" ]; then
  # The validator exits 0 on warnings; any message at all counts as a fault.
  report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate failed"
  [ -z "$report" ] || fail "desktop-file-validate: $report"
  for line in "Type=Application" "Name=邮件发送器" "Name[en]=Mail Sender" \
      "Exec=mailsender" "Icon=mailsender" "Terminal=false" \
      "Categories=Network;Email;" "X-AppVersion=$version"; do
    grep -qxF -- "$line" "$entry" || fail "launcher entry lacks '$line'"
  done
  LC_ALL=C grep -q '^Comment=.*[^ -~]' "$entry" || fail "launcher entry lacks a Chinese Comment"
  grep -q '^Comment\[en\]=' "$entry" || fail "launcher entry lacks an English Comment"
  grep -qF "$version" <(grep '^Comment' "$entry") || fail "Comment does not show version $version"
fi

# A PNG holds its width and height as big-endian 32-bit numbers at byte 16.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8 }'; }
for size in 48 256; do
  png=$prefix/$icons/${size}x${size}/apps/mailsender.png
  [ -f "$png" ] || continue
  [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] || fail "$png is not a PNG"
  [ "$(png_size "$png")" = "${size}x${size}" ] || fail "$png is $(png_size "$png"), not ${size}x${size}"
done

svg=$prefix/$icons/scalable/apps/mailsender.svg
if [ -f "$svg" ]; then
  python3 - "$svg" <<'PY' || fail "$svg is not a well-formed SVG document"
import sys, xml.etree.ElementTree as tree
root = tree.parse(sys.argv[1]).getroot()
sys.exit(0 if root.tag == "{http://www.w3.org/2000/svg}svg" and root.get("viewBox") else 1)
PY
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "install into a prefix: all checks passed"
