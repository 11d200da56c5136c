# Steps that several scripts take, written once. Sourced, never run, by scripts/, bench/
# and tests/*.sh:
#
#   source "$(dirname "$0")/lib.sh"            (from scripts/)
#   source "$(dirname "$0")/../scripts/lib.sh"  (from bench/ and tests/)
#
# The functions run in the caller's shell: what they start is the caller's child, and the
# caller ends it.

# Wine's own helpers that the prefixes made here do without: the prompts to install Mono
# and Gecko, and the menu builder, which would copy an installer's Start-menu entries into
# the Linux user's menus (~/.local/share/applications/wine/, ~/.config/menus/).
wine_dll_overrides="mscoree,mshtml=;winemenubuilder.exe=d"

# A command runs as the user who called sudo, when run through sudo by another user than
# root, so that what it builds is theirs; else as it is. as_user runs it; the array
# as_user_prefix holds the words to put before a command started in the background, so
# that the process started is the command itself (or sudo), never a subshell around it.
#   as_user COMMAND [ARGS...]
#   "${as_user_prefix[@]}" COMMAND [ARGS...] &
as_user_prefix=()
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "${SUDO_USER}" != root ]; then
  as_user_prefix=(sudo -u "$SUDO_USER" -H)
fi
as_user() {
  "${as_user_prefix[@]}" "$@"
}

# Fills the array windows_configure with the command that configures BUILD_DIR from the
# preset PRESET (default "windows", see CMakePresets.json): a release build for 64-bit
# Windows (mingw-w64) against the Qt for mingw in QT_DIR (scripts/qt-mingw). The caller
# runs it with its own settings after it:
#   windows_configure_command BUILD_DIR QT_DIR [PRESET]
#   "${windows_configure[@]}" -DKARVEN_LINUX_SIM=...
windows_configure_command() {
  local top
  top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  windows_configure=(env KARVEN_QT_MINGW="$2" cmake -S "$top" --preset "${3:-windows}" -B "$1")
}

# Starts a virtual X server on a display of its own choosing (-displayfd: a fixed number may
# belong to a server still shutting down) and sets xvfb_pid and xvfb_display (":N"). Its log
# goes to DIR/xvfb.log. When it has not said its display within 20 s it is ended and the
# function fails.
#   start_xvfb DIR
start_xvfb() {
  local fd display
  rm -f "$1/displayfd"
  mkfifo "$1/displayfd"
  exec {fd}<>"$1/displayfd"
  Xvfb -displayfd "$fd" -screen 0 1280x1024x24 -nolisten tcp >"$1/xvfb.log" 2>&1 &
  xvfb_pid=$!
  if ! read -r -t 20 display <&"$fd"; then
    exec {fd}>&-
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    return 1
  fi
  exec {fd}>&-
  rm -f "$1/displayfd"
  xvfb_display=:$display
}

# Starts the device simulator SIM (a Linux karven-sim) publishing its port at LINK, with
# any further options, and sets sim_pid; what it prints goes to LOG. When the link has not
# appeared within 10 s the simulator is ended and the function fails, saying what it printed.
#   start_sim SIM LINK LOG [OPTIONS...]
start_sim() {
  local sim=$1 link=$2 log=$3
  shift 3
  "$sim" --quiet --link "$link" "$@" >"$log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -L "$link" ] && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  echo "the simulator published no port at $link: $(cat "$log")" >&2
  return 1
}

# Leads the Wine prefix's COM9 to the pseudo-terminal behind LINK (a simulator's port).
#   com9_to PREFIX LINK
com9_to() {
  ln -sfn "$(readlink -f "$2")" "$1/dosdevices/com9"
}

# Ends every process of the Wine prefix (its server, its services, its programs) and waits
# until its server is gone.
#   end_wine PREFIX
end_wine() {
  WINEPREFIX=$1 wineserver -k 2>/dev/null || true
  WINEPREFIX=$1 wineserver -w 2>/dev/null || true
}
