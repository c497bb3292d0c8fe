#!/usr/bin/env bash
# Takes a picture of the program's windows on the bundled samples, under a
# virtual display, for the README's tour:
#   docs/connection-window.png  the connection window of a first run
#   docs/main-window.png        the main window over Samples/sample.mdb and
#                               Samples/FoxPro/sample.dbc
#   docs/sql-window.png         the SQL window after "Select All" and "Send
#                               Table/s To FoxPro" on those samples
#   docs/customization-window.png  the customization window for the Customers
#                               table on its way to FoxPro
# Usage: tools/screenshots.sh [build folder]   (default build/dev, built)
# Needs Xvfb, ImageMagick's import/convert and xdotool
# (apt-get install xvfb imagemagick xdotool).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
exe=$build/src/app/quillmere
for tool in Xvfb import convert xdotool; do
  command -v "$tool" >/dev/null || { echo "screenshots.sh: $tool is missing (apt-get install xvfb imagemagick xdotool)" >&2; exit 1; }
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

# start_on_samples NAME: the program on fresh copies of the samples, with a
# settings file naming them, so that it starts in the main window.
start_on_samples() {
  rm -rf "$work/Samples" && cp -r "$build/src/app/Samples" "$work/Samples"
  local home=$work/config-$1
  mkdir -p "$home/Harrowgate"
  printf '[Quillmere]\nAccessMDBFile=%s\nDBCFile=%s\nFoxproOption=1\n' \
    "$work/Samples/sample.mdb" "$work/Samples/FoxPro/sample.dbc" >"$home/Harrowgate/Harrowgate.conf"
  DISPLAY=$display XDG_CONFIG_HOME=$home QT_QPA_PLATFORM=xcb "$exe" >/dev/null 2>&1 &
  pid=$!
  sleep 3
}

# The SQL window: the main window again (on fresh copies of the samples),
# every Access row selected and sent; the run's notice (keys that stay
# behind) and its closing message (the last statement built) are answered
# with Enter, and the SQL window it opens is photographed alone.
start_on_samples sql
# Without a window manager the main window sits at the screen's corner;
# these are "Select All" and "Send Table/s To FoxPro" of the Access panel.
DISPLAY=$display xdotool mousemove 77 161 click 1
sleep 0.5
DISPLAY=$display xdotool mousemove 135 194 click 1
sleep 4
DISPLAY=$display xdotool key Return
sleep 1
DISPLAY=$display xdotool key Return
sleep 2
sqlwin=$(DISPLAY=$display xdotool search --name Quillmere | tail -1)
DISPLAY=$display import -window "$sqlwin" "$root/docs/sql-window.png"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
echo "docs/sql-window.png"

# The customization window: "Send with data type customization" ticked on
# the Access side, then "Send Table/s To FoxPro" with the first row
# (Customers) current.
start_on_samples customization
DISPLAY=$display xdotool mousemove 31 228 click 1
sleep 0.5
DISPLAY=$display xdotool mousemove 135 194 click 1
sleep 2
custwin=$(DISPLAY=$display xdotool search --name "Data Type Customization" | tail -1)
DISPLAY=$display import -window "$custwin" "$root/docs/customization-window.png"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
echo "docs/customization-window.png"
