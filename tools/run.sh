#!/usr/bin/env bash
# Builds kelvo.scr and runs it full screen under Wine. With a display, on that
# display until a key, a click or a mouse movement ends it; without one, on a
# private virtual display for a few seconds, leaving a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

tools/setup.sh
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 --target kelvo

export WINEPREFIX="${KELVO_WINEPREFIX:-$root/build/wineprefix}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
saver="$root/build/windows-x64/kelvo.scr"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "run: preparing the Wine prefix $WINEPREFIX (once)"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
fi

if [ -n "${DISPLAY:-}" ]; then
    echo "run: kelvo.scr /s on $DISPLAY; press a key, click or move the mouse to end it"
    wine "$saver" /s
    exit 0
fi

shot="$root/build/kelvo-screenshot.png"
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
sleep 1
# A window manager, as on a desktop: without one Wine waits for every hidden window.
openbox >/dev/null 2>&1 &
openbox=$!
trap 'kill $openbox $xvfb 2>/dev/null || true' EXIT
sleep 1
wine "$saver" /s &
saver_pid=$!
sleep "${KELVO_RUN_SECONDS:-5}"
import -window root "$shot"
xdotool key space
wait $saver_pid || true
wineserver -k 2>/dev/null || true
echo "run: screenshot saved as $shot"
