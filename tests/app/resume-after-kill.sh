#!/bin/sh
# The real program (--simulate, offscreen) runs a 0.2 s series, is killed with SIGKILL
# after about 10 shots, and is started again with --resume: the pictures before stay
# byte for byte, the numbering goes on without a gap or an overwrite, and the record
# has one line per picture.   resume-after-kill.sh <ostrelo> [<same-as-simulated>]
# With the Linux build's same-as-simulated, <ostrelo> is the Windows program, run under Wine in
# its window and closed with WM_CLOSE: its pictures must be the Linux build's for the same
# frames, and its record's lines end with CR LF as the Linux build's do.
exe=$1 same=$2
work=$(mktemp -d)
trap 'kill -KILL $pid 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/shots"
if [ -n "$same" ]; then
  [ -n "$DISPLAY" ] || { echo "no X display"; exit 77; }
  wine=wine folder=$(winepath -w "$work/shots")\\
  plans=$(winepath -u "$($wine cmd /c 'echo %LOCALAPPDATA%\Ostrelo' | tr -d '\r')")
  close() { wine taskkill /im ostrelo.exe >/dev/null 2>&1; }
else
  export XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=offscreen
  wine='' folder=$work/shots/ plans=$XDG_STATE_HOME/ostrelo
  close() { kill -TERM $pid; }
fi
mkdir -p "$plans"
version=$($wine "$exe" --version | tr -d '\r' | cut -d' ' -f2)
lines() { [ -f "$work/shots/run.xls" ] && wc -l <"$work/shots/run.xls" || echo 0; }
fail() { echo "FAIL: $*"; cat "$work/log"*; exit 1; }

# The series the first program takes up: a plan as the program writes it, at shot 0.
json=$(printf %s "$folder" | sed 's/\\/\\\\/g')
cat >"$plans/series.json" <<PLAN
{"version": "$version", "picture": "${json}run-.bmp", "record": "${json}run.xls", "nextShot": 1,
 "wait": "0.2", "gain": "0", "saturationText": "", "noSignalText": "", "saturation": false, "noSignal": false,
 "histogram": true, "warning": false, "live": true, "acquisition": true, "singleEnded": true,
 "area": [23, 23, 357, 171], "pictureArea": [65, 69, 1002, 512], "started": "", "lastShot": ""}
PLAN
$wine "$exe" --simulate --resume 2>"$work/log1" &
pid=$!
# Killed between two shots, as soon as the tenth line is in.
for _ in $(seq 1500); do [ "$(lines)" -ge 11 ] && break; sleep 0.02; done
kill -KILL $pid
wait $pid 2>/dev/null
before=$(lines)
[ "$before" -ge 11 ] || fail "the series did not run: $before lines"
(cd "$work/shots" && md5sum run-*.bmp) >"$work/sums"

start=$(date +%s.%N)
$wine "$exe" --simulate --resume 2>"$work/log2" &
pid=$!
for _ in $(seq 1500); do [ "$(lines)" -gt "$before" ] && break; sleep 0.02; done
echo "first shot after the restart: $(awk -v a="$start" -v b="$(date +%s.%N)" "BEGIN { printf \"%.2f\", b - a }") s after the start"
for _ in $(seq 1500); do [ "$(lines)" -ge $((before + 5)) ] && break; sleep 0.02; done
close
wait $pid || fail "exit status $? after the close"

(cd "$work/shots" && md5sum -c --quiet "$work/sums") || fail "a picture of the first run changed"
n=$(($(lines) - 1))
[ "$n" -ge $((before + 4)) ] || fail "the resumed series did not go on: $n shots"
[ "$(ls "$work/shots" | grep -c '^run-.*\.bmp$')" -eq "$n" ] || fail "$n record lines but other pictures: $(ls "$work/shots")"
i=0
tail -n +2 "$work/shots/run.xls" | cut -f1 | while read -r name; do
  i=$((i + 1))
  [ "$name" = "${folder}run-$(printf %04d $i).bmp" ] || { echo "FAIL: line $i names $name"; exit 1; }
  [ -f "$work/shots/run-$(printf %04d $i).bmp" ] || { echo "FAIL: $name missing"; exit 1; }
done || exit 1
[ "$(grep -c '^Image' "$work/shots/run.xls")" -eq 1 ] || fail "more than one header"
[ "$(tr -cd '\r' <"$work/shots/run.xls" | wc -c)" -eq $((n + 1)) ] || fail "not one CR LF a line"
tail -n +2 "$work/shots/run.xls" | tr -d '\r' | awk -F'\t' 'NF != 6 || $6 !~ /[0-9]$/ { exit 1 }' || fail "a line is cut"
[ -z "$same" ] || "$same" 65 69 1002 512 "$work/shots"/run-*.bmp || fail "a picture differs from the Linux build's"
echo "$before lines before the kill, $n shots in all"
