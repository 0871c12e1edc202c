#!/bin/sh
# Runs a Linux server for a test program that runs under Wine, and ends it with that program:
# Wine starts a Linux program detached (its parent is gone at once), so nothing else would.
# Prints "server <pid>" first, then whatever the server prints.
#   server-for-wine.sh <the test's Linux process id> <server> [arguments...]
owner=$1
shift
"$@" &
server=$!
echo "server $server"
tail --pid="$owner" -s 0.2 -f /dev/null
kill "$server" 2>/dev/null
