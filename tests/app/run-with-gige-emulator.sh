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

serial=E2E$$
"$emulator" -i 127.0.0.1 -s "$serial" -d cp:3 >"$log" 2>&1 &
emulator_pid=$!
# Listening once its GigE Vision control port (3956 = 0x0F74) is bound on 127.0.0.1.
for _ in $(seq 1 50); do
  grep -q ' 0100007F:0F74 ' /proc/net/udp && break
  sleep 0.1
done
kill -0 "$emulator_pid" 2>/dev/null || fail "the emulator did not start"

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
