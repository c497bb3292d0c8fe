#!/usr/bin/env bash
# Takes a picture of the program's windows on the bundled samples, under a
# virtual display, for the README's tour:
#   docs/connection-window.png  the connection window of a first run
#   docs/main-window.png        the main window over Samples/sample.mdb and
#                               Samples/FoxPro/sample.dbc
# Usage: tools/screenshots.sh [build folder]   (default build/dev, built)
# Needs Xvfb and ImageMagick's import/convert (apt-get install xvfb imagemagick).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
exe=$build/src/app/quillmere
for tool in Xvfb import convert; do
  command -v "$tool" >/dev/null || { echo "screenshots.sh: $tool is missing (apt-get install xvfb imagemagick)" >&2; exit 1; }
done
[ -x "$exe" ] || { echo "screenshots.sh: $exe is not built (cmake --build $build --target quillmere)" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The program works on copies; the settings store is a scratch one.
cp -r "$build/src/app/Samples" "$work/Samples"
display=:$((100 + $$ % 400))
Xvfb "$display" -screen 0 1024x768x24 -br -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1

# shoot NAME CONFIG-TEXT: starts the program with that settings file, waits
# for its window, and saves the screen trimmed to the window.
shoot() {
  local name=$1 config=$2
  local home=$work/config-$name
  mkdir -p "$home/Harrowgate"
  printf '%s' "$config" >"$home/Harrowgate/Harrowgate.conf"
  DISPLAY=$display XDG_CONFIG_HOME=$home QT_QPA_PLATFORM=xcb "$exe" >/dev/null 2>&1 &
  local pid=$!
  sleep 3
  DISPLAY=$display import -window root "$work/$name-full.png"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # The root window is black; the window is what is left after trimming it.
  convert "$work/$name-full.png" -trim +repage "$root/docs/$name.png"
  echo "docs/$name.png"
}

shoot connection-window ""
shoot main-window "[Quillmere]
AccessMDBFile=$work/Samples/sample.mdb
DBCFile=$work/Samples/FoxPro/sample.dbc
FoxproOption=1
"
