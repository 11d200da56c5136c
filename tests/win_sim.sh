#!/usr/bin/env bash
# Runs a test program of the Windows build under Wine against the Linux device simulator:
#   win_sim.sh SIM PREFIX DLL_DIRS [--qtest] PROGRAM [ARGS...]   (see wine_run.sh)
# The simulator serves a pseudo-terminal and the prefix's COM9 leads to it. The program asks
# for what only Linux can do by files in the folder $KARVEN_SIM_REQUESTS:
#   stop   ends the simulator, as a device that goes away;
#   hold   has a Linux program hold the port exclusively (TIOCEXCL, as the Linux build's own
#          port does) until the file is removed; "held" exists while it does.
set -u
source "$(dirname "$0")/../scripts/lib.sh"
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
  rm -rf "$work"  # a holder still running lets go when its request goes
}
trap cleanup EXIT

"${wine_run[@]}" --prepare || exit 1
start_sim "$sim" "$work/tty" "$work/sim.out" 2>&1 || exit 1
simpid=$sim_pid
tty=$(readlink -f "$work/tty")
com9_to "$prefix" "$work/tty"

req=$work/requests
mkdir "$req"
export KARVEN_SIM_REQUESTS=$req
hold() {
  perl -MFcntl -e '
    my ($tty, $req) = @ARGV;
    sysopen(my $port, $tty, O_RDWR | O_NOCTTY | O_NONBLOCK) or die "$tty: $!\n";
    ioctl($port, 0x540C, 0) or die "TIOCEXCL: $!\n";
    open(my $held, ">", "$req/held") and close($held);
    select(undef, undef, undef, 0.1) while -e "$req/hold";
    ioctl($port, 0x540D, 0);  # TIOCNXCL: the flag is the tty'"'"'s and outlives the descriptor
    close($port);
    unlink("$req/held");' "$tty" "$req"
}
( holder=""
  while [ ! -e "$req/stop" ]; do
    if [ -e "$req/hold" ] && { [ -z "$holder" ] || ! kill -0 "$holder" 2>/dev/null; }; then
      hold & holder=$!
    fi
    sleep 0.2
  done
  kill "$simpid" ) &
watch=$!

"${wine_run[@]}" "$@"
