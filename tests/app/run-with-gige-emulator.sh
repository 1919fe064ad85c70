#!/bin/sh
# The real program (no --simulate) against the GigE Vision camera emulator on the
# loopback interface, watched from outside through the emulator's log of the control
# packets it receives:
#   run-with-gige-emulator.sh <ostrelo> <arv-fake-gv-camera> card|nocard [fake card folder]
# card:   a stand-in DAQ library (libnidaqmx.so in the given folder) is found by the
#         system's library search, so start-up runs to its end without a message box.
#         The program must take the camera's control channel, keep sending the
#         software triggers of the live view (a picture every 200 ms) for as long as it
#         is watched, and on SIGTERM release the camera and exit 0.
# nocard: no DAQ library: start-up stops at the modal "No NI card found" box. SIGTERM
#         closes the box, start-up finishes and the program ends: exit 0, camera released.
# wine:   the Windows program under Wine (its own Wine server and prefix in this network,
#         where Wine sees only the loopback interface), the stand-in nicaiu.dll in the given
#         folder. A series taken up from its plan at gain 6 (the gain reaches the camera; its
#         pictures and record lines are checked); the camera is killed and started again
#         meanwhile: the series goes on with the camera set up as at first (control taken
#         again, the gain and the software trigger written again). Then, clicked in the
#         window, the series stops, the live view goes on and one shot is taken; closed by
#         WM_CLOSE.
# A run that found no camera would stop at "No camera found" and exit non-zero.
exe=$1
emulator=$2
mode=$3
card_dir=$4

work=$(mktemp -d) || exit 1
log=$work/emulator.log
emulator_pid=
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill -KILL "$program_pid" 2>/dev/null
  [ -n "$emulator_pid" ] && kill -TERM "$emulator_pid" 2>/dev/null && wait "$emulator_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- program output"; cat "$work/program.out" 2>/dev/null
  exit 1
}

# Control packets as the emulator saw them: software triggers (register 0x30c, the
# emulator's TriggerSoftware), control channel taken and released (register 0xa00,
# the GigE Vision control channel privilege).
count() {
  awk '
    /^\[/ { cmd = ""; addr = "" }
    $1 == "command" { cmd = $3 }
    $1 == "address" { addr = $3 }
    $1 == "value" && cmd == "write-register-cmd" {
      if (addr == 780 && $3 == 1) triggers++
      if (addr == 2560 && $3 != 0) taken++
      if (addr == 2560 && $3 == 0) released++
    }
    END { printf "%d %d %d\n", triggers, taken, released }' "$log"
}
triggers() { count | cut -d' ' -f1; }
taken() { count | cut -d' ' -f2; }
released() { count | cut -d' ' -f3; }

gains() {  # values written to the emulator's gain register (0x110)
  awk '/^\[/ { cmd = ""; addr = "" } $1 == "command" { cmd = $3 } $1 == "address" { addr = $3 }
    $1 == "value" && cmd == "write-register-cmd" && addr == 272 { print $3 }' "$log" | tr '\n' ' '
}

serial=E2E$$
start_emulator() {
  "$emulator" -i 127.0.0.1 -s "$serial" -d cp:3 >>"$log" 2>&1 &
  emulator_pid=$!
  # Listening once its GigE Vision control port (3956 = 0x0F74) is bound on 127.0.0.1.
  for _ in $(seq 1 50); do
    grep -q ' 0100007F:0F74 ' /proc/net/udp && break
    sleep 0.1
  done
  kill -0 "$emulator_pid" 2>/dev/null || fail "the emulator did not start"
}

if [ "$mode" = wine ]; then
  # A Wine server started elsewhere would show the program that network's interfaces.
  [ "$OSTRELO_OWN_NETWORK" = 1 ] || { echo "SKIP: not in a network namespace of its own (own-network.sh could not make one)"; exit 77; }
  [ -n "$DISPLAY" ] || { echo "SKIP: no X display"; exit 77; }
  export WINEPREFIX=$work/wineprefix
  wineboot -i >/dev/null 2>&1
  WINEPATH="$WINEPATH;$(winepath -w "$card_dir")"
  cleanup_wine() { wineserver -k 2>/dev/null; cleanup; }
  trap cleanup_wine EXIT
  mkdir -p "$work/shots"
  folder=$(winepath -w "$work/shots")\\
  plans=$(winepath -u "$(wine cmd /c 'echo %LOCALAPPDATA%\Ostrelo' | tr -d '\r')")
  mkdir -p "$plans"
  json=$(printf %s "$folder" | sed 's/\\/\\\\/g')
  version=$(wine "$exe" --version | tr -d '\r' | cut -d' ' -f2)
  cat >"$plans/series.json" <<PLAN
{"version": "$version", "picture": "${json}run-.bmp", "record": "${json}run.xls", "nextShot": 1,
 "wait": "0.5", "gain": "6", "saturationText": "", "noSignalText": "", "saturation": false, "noSignal": false,
 "histogram": false, "warning": false, "live": true, "acquisition": true, "singleEnded": true,
 "area": [0, 0, 250, 150], "pictureArea": [100, 80, 200, 120], "started": "", "lastShot": ""}
PLAN
  lines() { [ -f "$work/shots/run.xls" ] && wc -l <"$work/shots/run.xls" || echo 0; }
  start_emulator
  wine "$exe" --resume >"$work/program.out" 2>&1 &
  program_pid=$!
  for _ in $(seq 600); do [ "$(lines)" -ge 4 ] && break; kill -0 $program_pid 2>/dev/null || break; sleep 0.1; done
  [ "$(taken)" -ge 1 ] || fail "the program never took the emulated camera's control channel"
  [ "$(lines)" -ge 4 ] || fail "no series: $(lines) record lines"
  [ "$(gains)" = "6 " ] || fail "gain written to the camera: '$(gains)', expected 6"
  shots=$(lines) triggers_before=$(triggers)
  echo "opened, series at gain 6: $((shots - 1)) shots, $triggers_before software triggers"

  # The outage: the camera killed, then started again under the same serial number.
  kill -KILL "$emulator_pid"
  wait "$emulator_pid" 2>/dev/null
  sleep 4
  away=$(lines)
  start_emulator
  for _ in $(seq 600); do [ "$(lines)" -ge $((away + 4)) ] && break; sleep 0.1; done
  [ "$(lines)" -ge $((away + 4)) ] || fail "the series did not go on after the camera came back: $(lines) lines"
  [ "$(taken)" -ge 2 ] || fail "the camera was not opened again"
  [ "$(gains)" = "6 6 " ] || fail "gain written to the camera: '$(gains)', expected 6 twice"
  [ "$(triggers)" -gt "$triggers_before" ] || fail "no software trigger after the camera came back"

  # Through the window (no window manager: the X window is the client area): the series
  # stopped, the live view goes on, and one shot is taken.
  window=$(xdotool search --name '^Ostrelo version' | head -n 1)
  click() { xdotool mousemove --window "$window" "$1" "$2" click 1 && sleep 1; }
  click 156 16
  series=$(lines)
  before=$(triggers)
  sleep 2
  [ "$(lines)" -eq "$series" ] || fail "the series did not stop"
  [ "$(triggers)" -gt "$before" ] || fail "no live view after the series"
  click 56 16
  for _ in $(seq 100); do [ "$(lines)" -gt "$series" ] && break; sleep 0.1; done
  [ "$(lines)" -eq $((series + 1)) ] || fail "one shot gave $(($(lines) - series)) lines"
  wine taskkill /im "$(basename "$exe")" >/dev/null 2>&1
  wait "$program_pid" || fail "exit status $? after the close"
  program_pid=
  n=$(($(lines) - 1))
  [ "$(ls "$work/shots" | grep -c '^run-.*\.bmp$')" -eq "$n" ] || fail "$n record lines but other pictures: $(ls "$work/shots")"
  i=0
  tail -n +2 "$work/shots/run.xls" | tr -d '\r' | while IFS="$(printf '\t')" read -r name _ _ _ _ v3; do
    i=$((i + 1))
    bmp=$work/shots/run-$(printf %04d $i).bmp
    [ "$name" = "${folder}run-$(printf %04d $i).bmp" ] || { echo "FAIL: line $i names $name"; exit 1; }
    # An 8-bit grey BMP: header, palette of 256, then the area's lines, each padded to 4 bytes.
    set -- $(od -An -tu4 -j18 -N8 "$bmp")
    [ "$(head -c 2 "$bmp")" = BM ] && [ "$1" -gt 0 ] && [ "$2" -gt 0 ] &&
      [ "$(stat -c %s "$bmp")" -eq $((54 + 1024 + ($1 + 3) / 4 * 4 * $2)) ] ||
      { echo "FAIL: $bmp is not a whole picture of the area"; exit 1; }
    case $v3 in *[0-9]) ;; *) echo "FAIL: line $i is cut"; exit 1 ;; esac
  done || fail "a picture or a record line is wrong"
  [ "$(released)" -ge 1 ] || fail "the camera's control channel was not released"
  echo "$n shots in all, $((away - 1)) before the outage, the last one alone; camera opened $(taken) times; released"
  exit 0
fi

start_emulator
if [ "$mode" = card ]; then
  LD_LIBRARY_PATH=$card_dir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} "$exe" >"$work/program.out" 2>&1 &
else
  "$exe" >"$work/program.out" 2>&1 &
fi
program_pid=$!

# Start-up: the camera is opened (control taken) within a few seconds.
for _ in $(seq 1 100); do
  [ "$(taken)" -ge 1 ] && break
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
[ "$(taken)" -ge 1 ] || fail "the program never took the emulated camera's control channel"

if [ "$mode" = card ]; then
  # The live view: triggers keep coming, second after second.
  sleep 2
  for second in 1 2 3 4; do
    before=$(triggers)
    sleep 1
    kill -0 "$program_pid" 2>/dev/null || fail "the program ended by itself"
    after=$(triggers)
    [ "$after" -gt "$before" ] || fail "no picture asked for in second $second of the live view ($before triggers)"
  done
  echo "live view: $(triggers) software triggers in about 6 s"
else
  sleep 3
  kill -0 "$program_pid" 2>/dev/null || fail "the program ended by itself"
fi

kill -TERM "$program_pid"
status=
for _ in $(seq 1 200); do
  if ! kill -0 "$program_pid" 2>/dev/null; then
    wait "$program_pid"
    status=$?
    break
  fi
  sleep 0.1
done
[ -n "$status" ] || fail "still running 20 s after SIGTERM"
program_pid=
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM, expected 0"
[ "$(released)" -ge 1 ] || fail "the camera's control channel was not released"
echo "ended with status 0, camera released"
exit 0
