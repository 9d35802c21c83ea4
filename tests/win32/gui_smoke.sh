#!/usr/bin/env bash
# Drives the Windows program under Wine on a virtual X display, as a user at
# the keyboard would, against a real SMTP server on loopback:
#   gui_smoke.sh WINE_RUN STATE_DIR mailsender.exe SERVER_SCRIPT
# First run without a settings file: the four connection boxes come up empty;
# the values are typed along the Tab order, so a wrong order puts them into the
# wrong boxes and the mail checked at the end is wrong or missing. Send before
# connect, connect and send each show a box titled "信息："; Esc in the
# multi-line body closes the window, which saves the settings file, hidden.
set -euo pipefail
wine_run=$1 state=$2 program=$3 server_script=$4

work=$(mktemp -d)
pids=()
cleanup() {
  exec 5>&- 2>/dev/null || true  # the server stops when its input ends
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -d "$state/prefix" ] && WINEPREFIX="$state/prefix" wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  # MAILSENDER_SMOKE_SHOT=file.png keeps a picture of the screen (ImageMagick).
  [ -z "${MAILSENDER_SMOKE_SHOT:-}" ] || import -window root "$MAILSENDER_SMOKE_SHOT" || true
  exit 1
}
step() { echo "-- $*"; }

# Waits up to 30 s for a command to succeed.
wait_for() {
  for _ in $(seq 300); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# The Wine setup is made before the clock of any step starts.
"$wine_run" "$state" cmd /c exit 0 >/dev/null 2>&1 || fail "Wine does not start"
desktop="$state/home/Desktop"
settings="$desktop/$(printf '\xe9\x82\xae\xe4\xbb\xb6\xe5\x8f\x91\xe9\x80\x81\xe9\x85\x8d\xe7\xbd\xae.ini')"
rm -f "$settings"

step "a display of its own"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"
# xdotool types a character that the keyboard map lacks by binding it to a
# spare key for that one keystroke; a busy program can read the keystroke
# after the binding is gone and lose the character. So every character the
# test types gets a key of its own, before the program starts: Wine reads
# the keyboard map when it starts.
map_keys() {
  local code=200 keysym
  for keysym in $(/usr/bin/python3 -c 'import sys; print(" ".join("U%04X" % ord(c) for c in sorted(set(sys.argv[1])) if ord(c) > 127))' "$1"); do
    xmodmap -e "keycode $code = $keysym"
    code=$((code + 1))
  done
  sleep 0.5
}
map_keys "冒烟测试第一行李四"

step "an SMTP server on 127.0.0.1"
mkdir "$work/mail"
mkfifo "$work/server-input"
/usr/bin/python3 "$server_script" --folder "$work/mail" --user alice@example.com --password 'pa55 word' \
  <"$work/server-input" >"$work/port" 2>"$work/server.log" &
pids+=($!)
exec 5>"$work/server-input"
wait_for test -s "$work/port" || fail "the SMTP server did not start: $(cat "$work/server.log")"
port=$(head -n1 "$work/port")

step "the window appears"
cp "$program" "$work/mailsender.exe"
"$wine_run" "$state" "$work/mailsender.exe" >"$work/program.log" 2>&1 &
program_pid=$!
pids+=($program_pid)
main_window() { xdotool search --onlyvisible --class 'mailsender.exe' | while read -r id; do
  [ "$(xdotool getwindowgeometry "$id" | sed -n 's/.*Geometry: //p')" = 432x458 ] && echo "$id"
done | head -n1 | grep .; }
wait_for main_window || fail "no 432 x 458 window appeared"
window=$(main_window)
[ -z "$(xdotool getwindowname "$window")" ] || fail "the title is not empty"
position=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Position: \([0-9]*,[0-9]*\).*/\1/p')
[ "$position" = "$(( (1024 - 432) / 2 )),$(( (768 - 458) / 2 ))" ] || fail "not centred: $position"

geometry() { xdotool getwindowgeometry --shell "$window" | sed -n "s/^$1=//p"; }
left=$(geometry X) top=$(geometry Y)
# Activates the window with a click on its bare face, left of the body box,
# which gives the focus back to the control that had it. Under Xvfb there is
# no window manager to hand the keyboard back when a box closes.
activate() { xdotool mousemove $((left + 20)) $((top + 300)) click 1; sleep 0.3; }
keys() { xdotool key --delay 30 "$@"; }
type_text() { xdotool type --delay 30 "$1"; }

box_count() { xdotool search --onlyvisible --name '^信息：$' 2>/dev/null | wc -l; }
box_open() { [ "$(box_count)" -ge 1 ]; }
box_closed() { [ "$(box_count)" -eq 0 ]; }
# Waits for one report box, then presses its OK button with Enter.
dismiss_box() {
  wait_for box_open || fail "no box titled 信息： after $1"
  local box
  box=$(xdotool search --onlyvisible --name '^信息：$' | head -n1)
  xdotool windowfocus "$box" 2>/dev/null || true
  sleep 0.2
  keys Return
  wait_for box_closed || fail "the box after $1 did not close"
  activate
}

activate
step "typing along the Tab order"
type_text "127.0.0.1";         keys Tab  # 编辑框_SMTP地址
type_text "pa55 word";         keys Tab  # 编辑框_发信密码
type_text "alice@example.com"; keys Tab  # 编辑框_发信账号
type_text "$port";             keys Tab  # 编辑框_smtp端口
type_text "冒烟测试 smoke";    keys Tab  # 编辑框_标题
type_text "第一行"; keys Return; type_text "second line"; keys Tab  # 编辑框_内容
type_text "李四 <bob@example.com>"; keys Tab  # 编辑框_收件邮箱

step "send before connect: a box"
keys space  # 按钮1
dismiss_box "send before connect"
[ ! -e "$work/mail/auth.txt" ] || fail "the send button connected"

step "connect: a box, and the connection boxes locked"
keys Tab space  # 按钮_登陆邮箱
dismiss_box "connect"
grep -qx LOGIN "$work/mail/auth.txt" || fail "no AUTH LOGIN at the server"

step "send: Tab skips the locked controls, a box"
# From 编辑框_标题 the cycle is 编辑框_内容, 编辑框_收件邮箱, 按钮1 and back:
# seven steps end on 按钮1.
keys Tab Tab Tab Tab Tab Tab Tab space
dismiss_box "send"
[ -e "$work/mail/1.eml" ] || fail "the server received no message"

step "Esc in the body closes the window"
keys shift+Tab shift+Tab Escape  # 编辑框_收件邮箱, 编辑框_内容
program_gone() { ! kill -0 "$program_pid" 2>/dev/null; }
wait_for program_gone || fail "the window did not close"
wait "$program_pid" && status=0 || status=$?
[ "$status" -eq 0 ] || fail "exit code $status"

step "the mail as the server received it"
/usr/bin/python3 - "$work/mail" <<'PYTHON' || fail "the mail is not what was typed"
import email, email.header, json, sys
folder = sys.argv[1]
with open(folder + "/1.eml", "rb") as f:
    message = email.message_from_binary_file(f)
with open(folder + "/1.json", encoding="utf-8") as f:
    envelope = json.load(f)
def header(name):
    return str(email.header.make_header(email.header.decode_header(message[name])))
checks = [
    (envelope["mail_from"], "alice@example.com"),
    (envelope["rcpt_tos"], ["bob@example.com"]),
    (header("Subject"), "冒烟测试 smoke"),
    (header("To"), "李四 <bob@example.com>"),
    (message.get_payload(decode=True).decode("gbk"), "第一行\r\nsecond line"),
]
bad = [(got, want) for got, want in checks if got != want]
for got, want in bad:
    print("got", repr(got), "want", repr(want))
sys.exit(1 if bad else 0)
PYTHON

step "the settings file, written and hidden"
[ -e "$settings" ] || fail "no settings file on the desktop"
expected=$(printf '[邮箱配置]\nSMTP地址=127.0.0.1\nSMTP端口=%s\n账号=alice@example.com\n密码=pa55 word' "$port")
actual=$(iconv -f GBK -t UTF-8 "$settings" | tr -d '\r')
[ "$actual" = "$expected" ] || fail "settings file: $actual"
attributes=$("$wine_run" "$state" cmd /c attrib '%USERPROFILE%\Desktop\*.ini' 2>/dev/null | tr -d '\r')
# The letters before the path; Wine shows the archive attribute on every file.
flags=${attributes%%[A-Z]:\\*}
[[ $flags == *H* && $flags != *R* && $flags != *S* ]] || fail "not hidden alone: $attributes"
echo "PASS"
