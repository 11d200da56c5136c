#!/usr/bin/env bash
# scripts/run on this build, with no display: whether the program is killed, the script
# gets Ctrl+C or the script itself is ended, no process the script started survives and
# the simulator's link is gone.
#   run_script.sh SOURCE_DIR BUILD_DIR
set -u
src=$1
build=$2
command -v Xvfb >/dev/null || { echo "no Xvfb: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0

# Waits up to $1 seconds for the command that follows to succeed.
await() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.2
  done
}

# One run: starts scripts/run in a session of its own, waits for the program and the
# link, ends the run the way $1 says and checks what is left.
run_case() {
  local how=$1 link="$work/ttyV0"
  mkdir -p "$work/runtime"
  env -u DISPLAY -u WAYLAND_DISPLAY XDG_RUNTIME_DIR="$work/runtime" \
    KARVEN_BUILD_DIR="$build" KARVEN_SIM_LINK="$link" \
    setsid bash "$src/scripts/run" >"$work/out" 2>&1 </dev/null &
  local script=$!
  local problem=""
  if ! await 120 pgrep -s "$script" -x karven12t >/dev/null || ! await 10 test -L "$link"; then
    problem="the program or the link never came up"
  fi
  local started
  started=$(pgrep -s "$script" | tr '\n' ' ')
  case $how in
    "program killed") kill -TERM $(pgrep -s "$script" -x karven12t) ;;
    "Ctrl+C") kill -INT -- "-$script" ;;
    "script ended") kill -TERM "$script" ;;
  esac
  await 30 bash -c "! kill -0 $script 2>/dev/null" || problem+="${problem:+; }the script did not end"
  wait "$script" 2>/dev/null
  if ! await 10 bash -c "! pgrep -s $script >/dev/null"; then
    problem+="${problem:+; }left running: $(pgrep -a -s "$script" | tr '\n' ';')"
    pkill -KILL -s "$script"
  fi
  { [ -e "$link" ] || [ -L "$link" ]; } && problem+="${problem:+; }the link is still there"
  if [ -n "$problem" ]; then
    echo "FAIL: $how: $problem (started: $started)"
    sed 's/^/    /' "$work/out"
    failures=$((failures + 1))
  else
    echo "PASS: $how (started: $started)"
    passes=$((passes + 1))
  fi
}

for how in "program killed" "Ctrl+C" "script ended"; do
  run_case "$how"
done
echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
