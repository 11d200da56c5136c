#!/usr/bin/env bash
# scripts/run on this build, with no display: whether the program is killed, the script
# gets Ctrl+C or the script itself is ended, no process the script started survives and
# the simulator's link is gone.   run_script.sh SOURCE_DIR BUILD_DIR
set -u
command -v Xvfb >/dev/null || { echo "no Xvfb: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
link="$work/ttyV0"
passed=0 failed=0

# Waits up to $1 seconds for the command that follows to succeed.
await() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do [ "$SECONDS" -lt "$deadline" ] || return 1; sleep 0.2; done
}
gone() { ! pgrep -s "$1" >/dev/null; }

for how in "program killed" "Ctrl+C" "script ended"; do
  # Ctrl+C reaches every process of the group, the X server the script started included.
  # There the program draws offscreen, so that it does not end merely because that server
  # does: as on a real display, only the script can end it.
  platform=()
  [ "$how" = "Ctrl+C" ] && platform=(QT_QPA_PLATFORM=offscreen)
  # A session of its own: everything the script starts is in it. The script starts as from
  # a terminal, with SIGINT and SIGQUIT at their defaults: as a background job of this shell
  # it would start with them ignored, and bash cannot trap a signal ignored at its start.
  mkdir -p "$work/runtime"
  env --default-signal=INT,QUIT -u DISPLAY -u WAYLAND_DISPLAY "${platform[@]}" XDG_RUNTIME_DIR="$work/runtime" \
    KARVEN_BUILD_DIR="$2" KARVEN_SIM_LINK="$link" setsid bash "$1/scripts/run" >"$work/out" 2>&1 </dev/null &
  sid=$!
  problem=""
  await 120 pgrep -s "$sid" -x karven12t >/dev/null && await 10 test -L "$link" \
    || problem="the program or the link never came up; "
  started=$(pgrep -s "$sid" | tr '\n' ' ')
  case $how in
    "program killed") kill -TERM $(pgrep -s "$sid" -x karven12t) ;;
    "Ctrl+C") kill -INT -- "-$sid" ;;
    "script ended") kill -TERM "$sid" ;;
  esac
  await 30 gone "$sid" || { problem+="left running: $(pgrep -a -s "$sid" | tr '\n' ';') "; pkill -KILL -s "$sid"; }
  wait "$sid" 2>/dev/null
  { [ -e "$link" ] || [ -L "$link" ]; } && problem+="the link is still there"
  if [ -z "$problem" ]; then
    echo "PASS: $how (started: $started)"; passed=$((passed + 1))
  else
    echo "FAIL: $how: $problem (started: $started)"; sed 's/^/    /' "$work/out"; failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
