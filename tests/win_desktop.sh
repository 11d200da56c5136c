#!/usr/bin/env bash
# Runs a test program of the Windows build under Wine as a desktop has it: on a virtual X
# server, with Wine's own platform (Qt's windows platform plugin and the Windows style),
# against the Linux device simulator on COM9 (see win_sim.sh).
#   win_desktop.sh SIM PREFIX DLL_DIRS --qtest PROGRAM [TEST FUNCTIONS...]
# Wine's desktop binds the X display of the first program of the prefix's server, so the
# server starts afresh on the virtual display, and is ended with it: the tests after this
# one draw off screen and start a server of their own.
set -u
sim=$1 prefix=$(realpath -m "$2") dirs=$3 program=$5
shift 5
command -v Xvfb >/dev/null || { echo "no Xvfb: skipped"; exit 77; }
work=$(mktemp -d)
xvfb=""
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
bash "$(dirname "$0")/wine_run.sh" "$prefix" "$dirs" --prepare || exit 1
WINEPREFIX=$prefix wineserver -k 2>/dev/null
WINEPREFIX=$prefix wineserver -w 2>/dev/null
mkfifo "$work/displayfd"
exec {fd}<>"$work/displayfd"
Xvfb -displayfd "$fd" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
read -r -t 20 display <&"$fd" || { echo "Xvfb did not start: $(cat "$work/xvfb.log")"; exit 1; }
exec {fd}>&-
export DISPLAY=":$display"
bash "$(dirname "$0")/win_sim.sh" "$sim" "$prefix" "$dirs" --qtest "$program" -platform windows "$@"
