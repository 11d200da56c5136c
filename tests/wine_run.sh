#!/usr/bin/env bash
# Runs a program of the Windows build under Wine, in the build's own Wine prefix, which is
# made on first use.   wine_run.sh PREFIX DLL_DIRS PROGRAM [ARGS...]
# PROGRAM --prepare only makes the prefix.
# DLL_DIRS: the Linux folders of Qt's DLLs and the mingw runtime, ':'-separated.
# Wine passes no QT_* variable of Linux on, so the prefix's own environment says that Qt
# draws off screen; a program started with -platform still gets its own choice.
set -eu
prefix=$(realpath -m "$1") dirs=$2
shift 2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
winepath=""
IFS=: read -r -a parts <<<"$dirs"
for d in "${parts[@]}"; do winepath+="${winepath:+;}Z:${d//\//\\}"; done
export WINEPATH=$winepath

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.karven-ready" ]; then
    rm -rf "$prefix"
    wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d offscreen /f >/dev/null 2>&1
    wineserver -w
    touch "$prefix/.karven-ready"
  fi
) 9>"$prefix.lock"
[ "$1" = --prepare ] && exit 0
exec wine "$@" 2> >(grep -v -e '^it looks like wine32 is missing' -e '^multiarch needs to be enabled' \
                        -e '^execute "dpkg --add-architecture' -e '^apt-get install wine32' >&2)
