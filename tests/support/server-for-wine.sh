#!/bin/sh
# Runs a Linux server for a test program that runs under Wine, and ends it with that program.
# Wine starts a Linux program detached (its parent is gone at once) and hands it the standard
# input and output only, so the test gives one end of a loopback connection as the standard
# input and keeps the other: its end of file, once the test closes its end or dies (Wine then
# closes its handles), ends the server. The server's errors join its output.
#   server-for-wine.sh <server> [arguments...]
"$@" </dev/null 2>&1 &
server=$!
# Wine's sockets do not block: cat fails while the connection is quiet and succeeds at its end.
until cat >/dev/null 2>&1; do
    sleep 0.2
done
kill "$server" 2>/dev/null
