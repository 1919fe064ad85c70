#!/bin/sh
# The real program (--simulate, offscreen) runs a 0.2 s series, is killed with SIGKILL
# after about 10 shots, and is started again with --resume: the pictures before stay
# byte for byte, the numbering goes on without a gap or an overwrite, and the record
# has one line per picture.   resume-after-kill.sh <ostrelo>
exe=$1
work=$(mktemp -d)
trap 'kill -KILL $pid 2>/dev/null; rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state QT_QPA_PLATFORM=offscreen
mkdir -p "$XDG_STATE_HOME/ostrelo" "$work/shots"
version=$("$exe" --version | cut -d' ' -f2)
lines() { [ -f "$work/shots/run.xls" ] && wc -l <"$work/shots/run.xls" || echo 0; }
fail() { echo "FAIL: $*"; cat "$work/log"*; exit 1; }

# The series the first program takes up: a plan as the program writes it, at shot 0.
cat >"$XDG_STATE_HOME/ostrelo/series.json" <<PLAN
{"version": "$version", "picture": "$work/shots/run-.bmp", "record": "$work/shots/run.xls", "nextShot": 1,
 "wait": "0.2", "gain": "0", "saturationText": "", "noSignalText": "", "saturation": false, "noSignal": false,
 "histogram": true, "warning": false, "live": true, "acquisition": true, "singleEnded": true,
 "area": [0, 0, 456, 342], "pictureArea": [0, 0, 1280, 1024], "started": "", "lastShot": ""}
PLAN
"$exe" --simulate --resume 2>"$work/log1" &
pid=$!
# Killed between two shots, as soon as the tenth line is in.
for _ in $(seq 600); do [ "$(lines)" -ge 11 ] && break; sleep 0.02; done
kill -KILL $pid
wait $pid 2>/dev/null
before=$(lines)
[ "$before" -ge 11 ] || fail "the series did not run: $before lines"
(cd "$work/shots" && md5sum run-*.bmp) >"$work/sums"

start=$(date +%s.%N)
"$exe" --simulate --resume 2>"$work/log2" &
pid=$!
for _ in $(seq 600); do [ "$(lines)" -gt "$before" ] && break; sleep 0.02; done
echo "first shot after the restart: $(awk -v a="$start" -v b="$(date +%s.%N)" "BEGIN { printf \"%.2f\", b - a }") s after the start"
for _ in $(seq 600); do [ "$(lines)" -ge $((before + 5)) ] && break; sleep 0.02; done
kill -TERM $pid
wait $pid || fail "exit status $? after SIGTERM"

(cd "$work/shots" && md5sum -c --quiet "$work/sums") || fail "a picture of the first run changed"
n=$(($(lines) - 1))
[ "$n" -ge $((before + 4)) ] || fail "the resumed series did not go on: $n shots"
[ "$(ls "$work/shots" | grep -c '^run-.*\.bmp$')" -eq "$n" ] || fail "$n record lines but other pictures: $(ls "$work/shots")"
i=0
tail -n +2 "$work/shots/run.xls" | cut -f1 | while read -r name; do
  i=$((i + 1))
  [ "$name" = "$work/shots/run-$(printf %04d $i).bmp" ] || { echo "FAIL: line $i names $name"; exit 1; }
  [ -f "$name" ] || { echo "FAIL: $name missing"; exit 1; }
done || exit 1
[ "$(grep -c '^Image' "$work/shots/run.xls")" -eq 1 ] || fail "more than one header"
echo "$before lines before the kill, $n shots in all"
