#!/usr/bin/env bash
# Remakes docs/window.png: the program on a virtual display, with sample
# connection settings and a message typed in.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh xvfb xdotool imagemagick
make --no-print-directory build >/dev/null

home=$(mktemp -d)
trap 'kill "$program" "$xvfb" 2>/dev/null || true; rm -rf "$home"' EXIT
# The settings file is GBK, as the program writes it.
printf '[邮箱配置]\r\nSMTP地址=smtp.example.com\r\nSMTP端口=25\r\n账号=zhangsan@example.com\r\n密码=secret\r\n' |
  iconv -f UTF-8 -t GBK > "$home/邮件发送配置.ini"

exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
xvfb=$!
read -r number <&3
export DISPLAY=":$number"
HOME="$home" XDG_CONFIG_HOME="$home/.config" build/mailsender &
program=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --class mailsender | head -n 1)
xdotool windowfocus --sync "$window"

# The focus starts in the server box; four steps on is the subject.
xdotool key --delay 50 Tab Tab Tab Tab
xdotool type --delay 20 '本周工作总结'
xdotool key Tab
xdotool type --delay 20 '各位好：'
xdotool key Return
xdotool type --delay 20 '本周的工作总结见下文，请查收。'
xdotool key Tab
xdotool type --delay 20 'lisi@example.com; wangwu@example.com'
sleep 0.5
import -window "$window" docs/window.png
echo "Wrote docs/window.png"
