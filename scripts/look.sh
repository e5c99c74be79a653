#!/usr/bin/env bash
# Shows the suite as a user sees it: starts TvkLoader from a scratch copy of the built app folder on a virtual
# screen, runs optional steps, and saves screenshots.
#
#   bash scripts/look.sh OUT.png [STEPS]
#
# STEPS is a bash file that may define two functions: PREPARE, run before the loader starts (to edit the ini
# files of the app folder copy in $APP, say), and STEPS, run once the loader shows. Both see DISPLAY and
#   shot NAME            screenshot of the whole screen into OUT's folder as NAME.png
#   wait_window TITLE    waits (up to 20 s) until a window whose title contains TITLE shows; prints its id
#   click X Y            left click at screen position X, Y
# as well as xdotool and xwininfo. With no window manager, the loader's "Tarvik Loader is running." window sits
# at the top left; `click 85 41` opens its menu (the tray menu). At the end OUT.png shows the whole screen.
# BUILD (default build) names the build folder; SIZE (default 1280x900) the screen.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out=${1:?usage: look.sh OUT.png [STEPS]}
steps=${2:-}
build=${BUILD:-$root/build}
[ -x "$build/app/TvkLoader" ] || { echo "look: $build/app/TvkLoader is missing: build first (make build)" >&2; exit 1; }
bash "$here/setup.sh" --look >/dev/null

out=$(realpath -m "$out")
mkdir -p "$(dirname "$out")"
work=$(mktemp -d)
APP=$work/app
cp -a "$build/app" "$APP"

display=""
for n in $(seq 90 130); do
  [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
[ -n "$display" ] || { echo "look: no free display number" >&2; exit 1; }
Xvfb "$display" -screen 0 "${SIZE:-1280x900}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
loader=""
cleanup() {
  [ -n "$loader" ] && kill -TERM "$loader" 2>/dev/null && wait "$loader" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

shot() { import -window root "$(dirname "$out")/$1.png"; }
wait_window() {
  local id=""
  for _ in $(seq 200); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) && [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "look: no window titled like \"$1\"" >&2
  return 1
}
click() { xdotool mousemove "$1" "$2" click 1; }

if [ -n "$steps" ]; then
  # shellcheck disable=SC1090
  source "$steps"
fi
declare -F PREPARE >/dev/null && PREPARE

(cd "$APP" && exec env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb ./TvkLoader >"$work/loader.log" 2>&1) &
loader=$!
sleep 3
declare -F STEPS >/dev/null && STEPS
sleep 0.5
import -window root "$out"
echo "look: wrote $out"
kill -0 "$loader" 2>/dev/null || { echo "look: TvkLoader ended early; its output:" >&2; cat "$work/loader.log" >&2; }
