#!/bin/sh
# Starts the program with simulated devices, lets it run, then asks it to end with
# SIGTERM: it must still be running by then, shut down in order and exit with status 0.
#   run-and-terminate.sh <ostrelo> [outage]
# outage: meanwhile SIGUSR1 takes the simulated camera away for 3 s and brings it back,
#         then SIGUSR2 does the same with the simulated card; the program must live
#         through both and log each outage once it is over.
exe=$1
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$exe" --simulate 2>"$log" &
pid=$!
sleep 3
if [ "$2" = outage ]; then
  kill -USR1 "$pid"
  sleep 3
  kill -USR1 "$pid"
  sleep 2
  kill -USR2 "$pid"
  sleep 3
  kill -USR2 "$pid"
  sleep 2
  for device in Camera 'DAQ card'; do
    grep -q "^$device not answering from .* [0-9]* shots* not taken\$" "$log" ||
      { echo "no $device outage line in the log:"; cat "$log"; exit 1; }
  done
fi
if ! kill -0 "$pid" 2>/dev/null; then
  wait "$pid"
  echo "the program ended by itself with status $?"
  exit 1
fi
kill -TERM "$pid"
wait "$pid"
status=$?
if [ "$status" -ne 0 ]; then echo "exit status $status after SIGTERM, expected 0"; cat "$log"; exit 1; fi
exit 0
