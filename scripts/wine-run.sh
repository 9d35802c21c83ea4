#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine in a Wine setup of the build's
# own: wine-run.sh STATE_DIR PROGRAM [ARGS...]
# STATE_DIR holds the Wine prefix, a home folder for Wine and a zh_CN.UTF-8
# locale, so the ANSI code page is 936 (GBK) and nothing is written into the
# user's home folder. The first call sets it up (about 15 s); parallel calls
# wait for it.
set -eu
state=$(mkdir -p "$1" && cd "$1" && pwd)
shift

export HOME="$state/home"
export WINEPREFIX="$state/prefix"
export WINEDEBUG=-all
# No debugger (a crash must fail the run, not exit 0), no desktop menu
# entries, no installers for .NET and the HTML engine.
export WINEDLLOVERRIDES="winedbg.exe=d;winemenubuilder.exe=d;mscoree=d;mshtml=d"
export LOCPATH="$state/locale"
# Wine takes the ANSI code page from the locale: 936 for zh_CN. Set only for
# Wine's own processes (this shell cannot load a locale from LOCPATH).
zh=(env LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8)

if [ ! -e "$state/ready" ]; then
  (
    flock 9
    if [ ! -e "$state/ready" ]; then
      # A Desktop folder of its own: Wine links the prefix's desktop to it.
      mkdir -p "$HOME/Desktop" "$LOCPATH"
      localedef -i zh_CN -f UTF-8 "$LOCPATH/zh_CN.UTF-8" 2>/dev/null || true
      DISPLAY= "${zh[@]}" wineboot -i >/dev/null 2>&1
      # Under Xvfb without a window manager, managed windows make every hide
      # wait for an answer that never comes. The dialog fonts are not
      # installed: a CJK font of the system stands in for them.
      {
        echo 'REGEDIT4'
        echo '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]'
        echo '"Managed"="N"'
        echo '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]'
        for face in "MS Shell Dlg" "MS Shell Dlg 2" "MS Sans Serif" "Tahoma" "SimSun" "NSimSun"; do
          echo "\"$face\"=\"WenQuanYi Micro Hei\""
        done
      } >"$state/settings.reg"
      "${zh[@]}" wine regedit /S "$state/settings.reg" >/dev/null 2>&1
      wineserver -w
      touch "$state/ready"
    fi
  ) 9>"$state/.lock"
fi

exec "${zh[@]}" wine "$@"
