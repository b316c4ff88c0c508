#!/bin/sh
# Starts or stops the update server that the updater tests talk to.
#   server_fixture.sh start <dir> <server.py>   serves on a free port of 127.0.0.1; writes <dir>/port,
#                                               <dir>/down-port (a port nobody listens on) and <dir>/pid
#   server_fixture.sh stop <dir>
set -e
dir="$2"
case "$1" in
start)
    if [ -f "$dir/pid" ]; then kill "$(cat "$dir/pid")" 2>/dev/null || true; fi
    rm -rf "$dir"
    mkdir -p "$dir"
    # The server exits by itself after ten minutes should the cleanup never run.
    setsid python3 "$3" --host 127.0.0.1 --port 0 --port-file "$dir/port" --pid-file "$dir/pid" \
        --control-file "$dir/control.json" --log "$dir/requests.log" --lifetime 600 \
        >"$dir/server.out" 2>&1 </dev/null &
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' \
        >"$dir/down-port"
    i=0
    while [ ! -s "$dir/port" ]; do
        i=$((i + 1))
        if [ $i -gt 100 ]; then echo "update server did not start"; cat "$dir/server.out"; exit 1; fi
        sleep 0.1
    done
    echo "update server on 127.0.0.1:$(cat "$dir/port")"
    ;;
stop)
    if [ -f "$dir/pid" ]; then
        pid="$(cat "$dir/pid")"
        kill "$pid" 2>/dev/null || true
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do i=$((i + 1)); sleep 0.1; done
        rm -f "$dir/pid"
    fi
    ;;
esac
