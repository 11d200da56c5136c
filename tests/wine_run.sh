#!/usr/bin/env bash
# Runs a program of the Windows build under Wine, in the build's own Wine prefix, which is
# made on first use.   wine_run.sh PREFIX DLL_DIRS [--qtest] PROGRAM [ARGS...]
# PROGRAM --prepare only makes the prefix; --qtest: PROGRAM is a Qt Test program.
# DLL_DIRS: the Linux folders of Qt's DLLs and the mingw runtime, ':'-separated.
# Wine passes no QT_* variable of Linux on, so the prefix's own environment says that Qt
# draws off screen; a program started with -platform still gets its own choice.
set -eu
# Root's CAP_SYS_ADMIN opens a tty that another program holds exclusively (TIOCEXCL), as a
# user could not. Wine and its server (which opens the devices) run without it, so that a
# COM port held on the Linux side is busy for the Windows programs as it is for anyone.
if [ "$(id -u)" = 0 ] && [ -z "${KARVEN_WINE_NO_SYSADMIN:-}" ] && command -v setpriv >/dev/null \
   && setpriv --inh-caps=-sys_admin --bounding-set=-sys_admin true 2>/dev/null; then
  export KARVEN_WINE_NO_SYSADMIN=1
  exec setpriv --inh-caps=-sys_admin --bounding-set=-sys_admin bash "$0" "$@"
fi
source "$(dirname "$0")/../scripts/lib.sh"
prefix=$(realpath -m "$1") dirs=$2
shift 2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=$wine_dll_overrides
winepath=""
IFS=: read -r -a parts <<<"$dirs"
for d in "${parts[@]}"; do winepath+="${winepath:+;}Z:${d//\//\\}"; done
export WINEPATH=$winepath

# Off screen, Qt finds no fonts of Windows: it is given those the Linux tests use, so that
# texts measure the same on both legs.
fonts=/usr/share/fonts/truetype/dejavu
settings="offscreen, fonts $fonts"
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.karven-ready" ]; then
    rm -rf "$prefix"
    wineboot -i >/dev/null 2>&1
  fi
  if [ "$(cat "$prefix/.karven-ready" 2>/dev/null)" != "$settings" ]; then
    wine reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d offscreen /f >/dev/null 2>&1
    wine reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /d "Z:${fonts//\//\\}" /f >/dev/null 2>&1
    wineserver -w
    echo "$settings" >"$prefix/.karven-ready"
  fi
) 9>"$prefix.lock"
[ "$1" = --prepare ] && exit 0
# A Qt Test program under Wine logs to the debugger, not to a standard output that is no
# console: its log goes to a file, which is shown when it ends, however it ends.
log=""
if [ "$1" = --qtest ]; then
  shift
  log=$(mktemp)
  set -- "$@" -o "Z:$log,txt"
fi
rc=0
# Standard error goes straight on (with WINEDEBUG=-all Debian's wine says nothing of a
# missing 32-bit Wine). Through a filter it would come late, and the filter would end only
# with the prefix's services, which hold every standard stream they were started with.
wine "$@" || rc=$?
if [ -n "$log" ]; then
  cat "$log"
  rm -f "$log"
fi
exit $rc
