#!/bin/sh
# Starts the program with simulated devices, lets it run, then asks it to end with
# SIGTERM: it must still be running by then, shut down in order and exit with status 0.
exe=$1
"$exe" --simulate &
pid=$!
sleep 3
if ! kill -0 "$pid" 2>/dev/null; then
  wait "$pid"
  echo "the program ended by itself with status $?"
  exit 1
fi
kill -TERM "$pid"
wait "$pid"
status=$?
if [ "$status" -ne 0 ]; then echo "exit status $status after SIGTERM, expected 0"; exit 1; fi
exit 0
