#!/bin/sh
# Runs a command on a private X server (Xvfb) with a window manager
# (openbox) and Qt's xcb platform, as the window runs on a desktop, then
# stops both. The command's exit status is this script's.
#   scripts/under-xvfb.sh COMMAND [ARG...]
set -eu
WORK="$(mktemp -d)"
XVFB_PID=""
WM_PID=""
cleanup() {
  [ -z "$WM_PID" ] || kill "$WM_PID" 2>/dev/null || true
  [ -z "$XVFB_PID" ] || kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

# The server picks a free display and writes its number once it accepts
# clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.log" &
XVFB_PID=$!
waited=0
until [ -s "$WORK/display" ]; do
  if ! kill -0 "$XVFB_PID" 2>/dev/null || [ "$waited" -ge 400 ]; then
    echo "under-xvfb.sh: Xvfb did not start" >&2
    cat "$WORK/xvfb.log" >&2
    exit 1
  fi
  sleep 0.05
  waited=$((waited + 1))
done
DISPLAY=":$(tr -d '\n' < "$WORK/display")"
export DISPLAY

openbox --sm-disable > "$WORK/wm.log" 2>&1 &
WM_PID=$!
# Ready when it has announced itself on the root window.
waited=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
  if ! kill -0 "$WM_PID" 2>/dev/null || [ "$waited" -ge 400 ]; then
    echo "under-xvfb.sh: the window manager did not start" >&2
    cat "$WORK/wm.log" >&2
    exit 1
  fi
  sleep 0.05
  waited=$((waited + 1))
done

export QT_QPA_PLATFORM=xcb
status=0
"$@" || status=$?
exit "$status"
