#!/usr/bin/env bash
# karven-cli on both systems against the Linux device simulator: one run of commands (read,
# write, diff, a mode watched and run, output into the null device, a busy and a missing
# port, Ctrl+C in a mode run and in an answer wait, a reader that goes away), made by the
# Linux build on a pseudo-terminal and by the Windows build under Wine on COM9, each against
# a fresh simulator. Each run is written down with the times and the port's name taken out;
# the two records must be the same byte for byte: every request and answer frame of --trace,
# every output and every exit status.
#
#   cli_frames.sh SIM LINUX_CLI PREFIX DLL_DIRS CLI_EXE    (PREFIX, DLL_DIRS: see wine_run.sh)
set -u
source "$(dirname "$0")/../scripts/lib.sh"
sim=$1 linux_cli=$2 prefix=$(realpath -m "$3") dirs=$4 exe=$5
for f in "$sim" "$linux_cli"; do
  [ -x "$f" ] || { echo "no Linux build of the simulator and the companion (${f:-not given}): skipped"; exit 77; }
done
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -f "$prefix/dosdevices/com9"
  rm -rf "$work"
}
trap cleanup EXIT
export LC_ALL=C.UTF-8

# A fresh simulator for one run, its port at $work/$1/tty.
fresh_sim() {
  mkdir -p "$work/$1"
  start_sim "$sim" "$work/$1/tty" "$work/$1/sim.out" 2>&1 || exit 1
  simpid=$sim_pid
  pids+=($simpid)
}

# The run's record: times and the port's name out, the file's time of reading out.
normalise() {
  sed -E -e 's/^ *[0-9]+\.[0-9] ms //' -e 's/^[0-9]{4}-[0-9-]+T[0-9:.]+Z,/TIME,/' \
    -e 's/"(time|read_at)": ?"[^"]*"/"\1": TIME/' -e "s#$port#PORT#g" -e "s#$absent#ABSENT#g" \
    -e 's/ \(([^()]+ \(pid [0-9]+\)(, )?)+\)$//' -e 's/Ctrl\+C \(SIGINT\)/Ctrl+C/'
  # (Linux names the programs that hold a busy port, Windows does not tell; Linux names
  # Ctrl+C's signal.)
}
# One command: its exit status, standard output and standard error into the record.
record() {
  local title=$1 status=0
  shift
  (cd "$dir" && "$@") >"$work/out" 2>"$work/err" || status=$?
  { echo "== $title: status $status"; normalise <"$work/out"; echo "-- stderr"; normalise <"$work/err"; } >>"$record"
}
# The companion's process (under Wine: the Windows program's own Linux process).
cli_pid() {
  local pid=$1 child
  if [ "$leg" = windows ]; then
    for _ in $(seq 100); do
      child=$(pgrep -P "$pid" -f 'karven-cli\.exe' | head -n 1)
      [ -n "$child" ] && { echo "$child"; return; }
      sleep 0.1
    done
  fi
  echo "$pid"
}
# Whether mode tq is on or off now.
record_state() {
  local status=0
  (cd "$dir" && "${kc[@]}" mode tq --port "$port" --count 1) >"$work/out" 2>"$work/err" || status=$?
  echo "== $1: status $status, mode $(awk -F, 'NR == 2 {print $2}' "$work/out") $(cat "$work/err")" >>"$record"
}
wait_lines() {
  for _ in $(seq 300); do [ "$(wc -l <"$1")" -ge "$2" ] && return 0; sleep 0.1; done
  return 1
}

run_commands() {
  leg=$1 port=$2 absent=$3 null=$4
  shift 4
  kc=("$@")
  dir=$work/$leg record=$work/$leg.txt
  : >"$record"
  record "read" "${kc[@]}" read --port "$port" --trace -o a.json
  cat "$dir/a.json" | normalise >>"$record"
  sed -E -e 's/("field": "Tpu2DetectorType", "value": )[^,]*/\10/' \
         -e 's/("field": "TprKFactor1", "value": )[^,]*/\11234.56/' "$dir/a.json" >"$dir/b.json"
  record "write" "${kc[@]}" write --port "$port" --trace b.json
  record "diff, differs" "${kc[@]}" diff --port "$port" --trace a.json
  record "diff, equal" "${kc[@]}" diff --port "$port" b.json
  record "read, table" "${kc[@]}" read --port "$port" --table
  record "read into the null device" "${kc[@]}" read --port "$port" -o "$null"
  record "mode, watched" "${kc[@]}" mode tq --port "$port" --count 2 --json --trace
  # A running mode's readings move with time: its requests, and the answers' lengths.
  (cd "$dir" && "${kc[@]}" mode tpr-tpu1 --port "$port" --start --count 2 --stop --trace) >"$work/out" 2>"$work/err"
  echo "== mode, started and stopped: status $? rows $(wc -l <"$work/out")" >>"$record"
  normalise <"$work/err" | awk '$1 == "->" || $1 == "<-" { if ($1 == "<-") { print $1, NF - 1 " bytes" } else print }' >>"$record"

  # A port that a program holds is busy (held on the Linux side for both: Wine lets two of
  # its own programs open one pseudo-terminal).
  "$linux_cli" mode tq --port "$dir/tty" >/dev/null 2>&1 &
  local holder=$!
  pids+=($holder)
  sleep 1
  record "busy port" "${kc[@]}" read --port "$port"
  kill "$holder"
  wait "$holder"

  # Ctrl+C ends a mode run as its count would, and --stop stops the mode.
  (cd "$dir" && exec "${kc[@]}" mode tq --port "$port" --start --stop >"$work/run.out" 2>"$work/run.err") &
  local run=$! status=0
  pids+=($run)
  wait_lines "$work/run.out" 3 || echo "the mode run wrote no rows" >>"$record"
  kill -INT "$(cli_pid "$run")"
  wait "$run" || status=$?
  echo "== Ctrl+C: status $status, stderr: $(cat "$work/run.err")" >>"$record"
  record_state "after Ctrl+C"
  record "absent port" "${kc[@]}" read --port "$absent"
  record "closed pipe" bash -c '"$@" | head -n 2 >/dev/null; exit "${PIPESTATUS[0]}"' - "${kc[@]}" mode tq --port "$port" --start --stop
  record_state "after the pipe"

  # Ctrl+C in an answer wait ends the exchange at once, with the status of Ctrl+C (the
  # simulator is stopped, so the request stays unanswered).
  kill -STOP "$simpid"
  (cd "$dir" && exec "${kc[@]}" read --port "$port" --timeout 5000 --trace >/dev/null 2>"$work/run.err") &
  run=$! status=0
  pids+=($run)
  for _ in $(seq 300); do grep -q -- '->' "$work/run.err" && break; sleep 0.1; done
  kill -INT "$(cli_pid "$run")"
  wait "$run" || status=$?
  kill -CONT "$simpid"
  echo "== Ctrl+C in an answer wait: status $status" >>"$record"
  grep -v -- '->' "$work/run.err" | normalise >>"$record"
}

fresh_sim linux
run_commands linux "$work/linux/tty" "$work/linux/none" /dev/null "$linux_cli"

bash "$here/wine_run.sh" "$prefix" "$dirs" --prepare || exit 1
fresh_sim windows
com9_to "$prefix" "$work/windows/tty"
rm -f "$prefix/dosdevices/com7"
run_commands windows COM9 COM7 NUL bash "$here/wine_run.sh" "$prefix" "$dirs" "$exe"

if ! diff -u "$work/linux.txt" "$work/windows.txt"; then
  echo "karven-cli.exe under Wine differs from the Linux build (- Linux, + Windows)"
  exit 1
fi
# A record that is the same because both are empty or failed alike proves nothing.
for line in '== read: status 0' '== Ctrl+C: status 0, stderr: ' '== after Ctrl+C: status 0, mode off ' \
            '== closed pipe: status 0' '== after the pipe: status 0, mode off ' '== busy port: status 3' \
            '== Ctrl+C in an answer wait: status 130' '== read into the null device: status 0'; do
  grep -q "^$line" "$work/linux.txt" || { cat "$work/linux.txt"; echo "not in the record: $line"; exit 1; }
done
grep -q '^-> 0A 10 00 00 00 35 6A' "$work/linux.txt" || { cat "$work/linux.txt"; echo "no write request"; exit 1; }
echo "the same run on both systems: $(grep -c '^->' "$work/linux.txt") requests, $(grep -c '^<-' "$work/linux.txt") answers"
