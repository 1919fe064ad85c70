#!/bin/sh
# Runs read-accessible-tree.py on an X display, a D-Bus session and an accessibility bus
# of its own, so concurrent runs never share a bus. Exits 77 (skipped) where Xvfb, D-Bus
# or Debian's pyatspi is missing.   read-tree-through-outage.sh <ostrelo>
command -v Xvfb >/dev/null && command -v dbus-run-session >/dev/null &&
  /usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "no Xvfb, D-Bus or pyatspi"; exit 77; }
XDG_RUNTIME_DIR=$(mktemp -d) && export XDG_RUNTIME_DIR
Xvfb -displayfd 3 -nolisten tcp 3>"$XDG_RUNTIME_DIR/display" 2>/dev/null &
trap 'kill $!; rm -rf "$XDG_RUNTIME_DIR"' EXIT
for _ in $(seq 100); do [ -s "$XDG_RUNTIME_DIR/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$XDG_RUNTIME_DIR/display")
# The program aborts when the display refuses it: wait until the server takes clients.
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
# The offscreen platform has no accessibility bridge. Qt looks for the accessibility bus
# at start-up and may miss one that comes later: it is started first.
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
# shellcheck disable=SC2016
dbus-run-session -- sh -c 'dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
  org.a11y.Bus.GetAddress >/dev/null && exec /usr/bin/python3 "$0" "$1"' "$(dirname "$0")/read-accessible-tree.py" "$1"
