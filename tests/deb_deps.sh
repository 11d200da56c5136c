#!/usr/bin/env bash
# What `scripts/package deb` has apt install on a Debian system that holds nothing yet, the
# packages' own dependencies and recommendations included: everything the Debian package's
# build needs, and none of the Windows build's tools.   deb_deps.sh SOURCE_DIR
set -u
command -v apt-get >/dev/null || { echo "no apt here: skipped"; exit 77; }
mapfile -t packages < <(bash "$1/scripts/deps" --list deb)
if ! plan=$(apt-get -s -o Dir::State::status=/dev/null install "${packages[@]}" 2>&1); then
  echo "$plan" | tail -n 3
  echo "apt cannot plan the install here (no package lists?): skipped"
  exit 77
fi
installed=$(awk '$1 == "Inst" {print $2}' <<<"$plan")
for needed in qt6-base-dev cmake librsvg2-bin help2man dpkg-dev; do
  grep -qx "$needed" <<<"$installed" || { echo "not in apt's plan: $needed"; exit 1; }
done
windows=$(grep -E 'mingw|^nsis|^wine|^libwine|magick' <<<"$installed")
if [ -n "$windows" ]; then
  echo "the Debian package's build would install Windows tools:" $windows
  exit 1
fi
echo "$(wc -l <<<"$installed") packages on a bare system, none of them a Windows tool"
