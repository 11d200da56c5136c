#!/usr/bin/env bash
# Runs a test program of the Windows build under Wine as a desktop has it: on a virtual X
# server, with Wine's own platform (Qt's windows platform plugin and the Windows style),
# against the Linux device simulator on COM9 (see win_sim.sh).
#   win_desktop.sh SIM PREFIX DLL_DIRS --qtest PROGRAM [TEST FUNCTIONS...]
# Wine's desktop binds the X display of the first program of the prefix's server, so the
# server starts afresh on the virtual display, and is ended with it: the tests after this
# one draw off screen and start a server of their own.
set -u
source "$(dirname "$0")/../scripts/lib.sh"
sim=$1 prefix=$(realpath -m "$2") dirs=$3 program=$5
shift 5
command -v Xvfb >/dev/null || { echo "no Xvfb: skipped"; exit 77; }
work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  end_wine "$prefix"
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
bash "$(dirname "$0")/wine_run.sh" "$prefix" "$dirs" --prepare || exit 1
end_wine "$prefix"
start_xvfb "$work" || { echo "Xvfb did not start: $(cat "$work/xvfb.log")"; exit 1; }
export DISPLAY=$xvfb_display
bash "$(dirname "$0")/win_sim.sh" "$sim" "$prefix" "$dirs" --qtest "$program" -platform windows "$@"
