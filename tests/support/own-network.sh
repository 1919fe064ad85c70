#!/bin/sh
# Runs a command in a network namespace of its own with only the loopback interface up,
# so the GigE Vision camera emulators of concurrent test runs (other build folders, other
# checkouts) never answer each other's packets on 127.0.0.1. Where namespaces are not
# permitted, the command runs as it is.
#   own-network.sh <command> [arguments...]
if [ -z "$OSTRELO_OWN_NETWORK" ] && unshare --net true 2>/dev/null; then
  exec unshare --net env OSTRELO_OWN_NETWORK=1 sh -c 'ip link set lo up 2>/dev/null || ifconfig lo up 2>/dev/null; exec "$@"' sh "$@"
fi
exec "$@"
