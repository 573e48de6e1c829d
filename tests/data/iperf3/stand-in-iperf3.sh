#!/bin/sh
# Stand-in for iperf/iperf3: prints the recorded output of the server named by -p, the download
# one (recorded/dn_PORT.txt) with -R and the upload one (recorded/up_PORT.txt) without. When the
# file recorded/hold exists it waits, up to 20 s, until it is gone.
port=
direction=up
while [ $# -gt 0 ]; do
    case "$1" in
        -p) port=$2; shift ;;
        -R) direction=dn ;;
    esac
    shift
done
here=$(dirname "$0")
waited=0
while [ -e "$here/recorded/hold" ] && [ "$waited" -lt 200 ]; do
    sleep 0.1
    waited=$((waited + 1))
done
exec cat "$here/recorded/${direction}_${port}.txt"
