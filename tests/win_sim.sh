#!/usr/bin/env bash
# Runs a test program of the Windows build under Wine against the Linux device simulator:
#   win_sim.sh SIM PREFIX DLL_DIRS PROGRAM [ARGS...]   (PREFIX, DLL_DIRS: see wine_run.sh)
# The simulator serves a pseudo-terminal and the prefix's COM9 leads to it. The program ends
# the simulator, as a device that goes away, by creating the file named by $KARVEN_SIM_STOP.
set -u
sim=$1 prefix=$(realpath -m "$2") dirs=$3
shift 3
wine_run=(bash "$(dirname "$0")/wine_run.sh" "$prefix" "$dirs")
[ -x "$sim" ] || { echo "no Linux simulator (${sim:-not given}): skipped"; exit 77; }
work=$(mktemp -d)
simpid="" watch=""
cleanup() {
  [ -n "$watch" ] && kill "$watch" 2>/dev/null
  [ -n "$simpid" ] && kill "$simpid" 2>/dev/null
  wait 2>/dev/null
  rm -f "$prefix/dosdevices/com9"
  rm -rf "$work"
}
trap cleanup EXIT

"${wine_run[@]}" --prepare || exit 1
"$sim" --link "$work/tty" --quiet >"$work/sim.out" 2>&1 &
simpid=$!
for _ in $(seq 100); do [ -L "$work/tty" ] && break; sleep 0.1; done
[ -L "$work/tty" ] || { echo "the simulator never published its port"; cat "$work/sim.out"; exit 1; }
ln -sfn "$(readlink -f "$work/tty")" "$prefix/dosdevices/com9"

export KARVEN_SIM_STOP=$work/stop
# The test's own wait for its request; the simulator itself waits on its port.
( while [ ! -e "$KARVEN_SIM_STOP" ]; do sleep 0.2; done; kill "$simpid" ) &
watch=$!

"${wine_run[@]}" "$@"
