#!/bin/sh
# Installs the build into a scratch prefix and checks what a desktop expects: the
# program, its menu entry and its icons; and what the package adds: the udev rule for
# USB3 Vision cameras, the systemd user unit that resumes a series, the manual page and
# the copyright file; the unit's folder and ExecStart for a user prefix and for /usr.
build=$1
prefix=$(mktemp -d) || exit 1
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "cmake --install failed"; exit 1; }
fail=0
for f in bin/ostrelo share/applications/ostrelo.desktop share/icons/hicolor/scalable/apps/ostrelo.svg \
         share/icons/hicolor/32x32/apps/ostrelo.png share/icons/hicolor/128x128/apps/ostrelo.png \
         lib/udev/rules.d/70-ostrelo-usb3vision.rules share/systemd/user/ostrelo.service \
         share/man/man1/ostrelo.1.gz share/doc/ostrelo/copyright; do
  [ -f "$prefix/$f" ] || { echo "missing $f"; fail=1; }
done
[ -x "$prefix/bin/ostrelo" ] || { echo "bin/ostrelo is not executable"; fail=1; }
"$prefix/bin/ostrelo" --version >/dev/null || { echo "the installed program does not run"; fail=1; }
grep -q '^Exec=ostrelo$' "$prefix/share/applications/ostrelo.desktop" || { echo "desktop entry: no Exec"; fail=1; }
grep -q '^Icon=ostrelo$' "$prefix/share/applications/ostrelo.desktop" || { echo "desktop entry: no Icon"; fail=1; }
DESTDIR="$prefix/destdir" cmake --install "$build" --prefix /usr >/dev/null || { echo "install to /usr failed"; exit 1; }
nocamera=$(gzip -dc "$prefix/share/man/man1/ostrelo.1.gz" | sed -n 's/.*; \([0-9]*\) when no camera is found.*/\1/p')
for unit in "$prefix/share/systemd/user $prefix/bin" "$prefix/destdir/usr/lib/systemd/user /usr/bin"; do
  set -- $unit
  grep -Fqx "ExecStart=$2/ostrelo --resume" "$1/ostrelo.service" && grep -qx "RestartPreventExitStatus=$nocamera" "$1/ostrelo.service" ||
    { echo "$1: not ExecStart=$2/ostrelo, or restarts on the no-camera status"; fail=1; }
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/ostrelo.desktop" || fail=1
fi
exit $fail
