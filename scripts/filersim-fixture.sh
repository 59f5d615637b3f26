#!/usr/bin/env bash
# filersim-fixture.sh start|stop DIR [SERVER SCENARIO]
# For tests of another platform's build (run under an emulator) that reach this
# machine's simulated filer: `start` makes a self-signed certificate for
# 127.0.0.1 and localhost (filer.pem), one for localhost alone (named.pem) and
# one of another authority (other.pem), serves the scenario's filer kelva-a on
# 127.0.0.1 over HTTP, over HTTPS with filer.pem and over HTTPS with named.pem,
# and writes the ports to DIR/http.port, DIR/https.port and DIR/named.port;
# `stop` ends the servers.
set -euo pipefail
what=$1 dir=$2
case "$what" in
  start)
    server=$3 scenario=$4
    "$0" stop "$dir" || true
    rm -rf "$dir" && mkdir -p "$dir"
    for name in filer other named; do
      names="IP:127.0.0.1,DNS:localhost"
      [ "$name" = named ] && names="DNS:localhost"
      openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=localhost" \
        -addext "subjectAltName=$names" \
        -keyout "$dir/$name.key" -out "$dir/$name.pem" 2>/dev/null
    done
    # They stop on their own after an hour, should nobody stop them.
    "$server" "$scenario" -f kelva-a -t 3600 >"$dir/http.out" 2>&1 &
    echo $! >"$dir/http.pid"
    "$server" "$scenario" -f kelva-a -t 3600 --cert "$dir/filer.pem" --key "$dir/filer.key" \
      >"$dir/https.out" 2>&1 &
    echo $! >"$dir/https.pid"
    "$server" "$scenario" -f kelva-a -t 3600 --cert "$dir/named.pem" --key "$dir/named.key" \
      >"$dir/named.out" 2>&1 &
    echo $! >"$dir/named.pid"
    for kind in http https named; do
      for _ in $(seq 100); do
        port=$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$dir/$kind.out")
        [ -n "$port" ] && break
        sleep 0.1
      done
      if [ -z "$port" ]; then
        echo "filersim-server ($kind) did not start:" >&2
        cat "$dir/$kind.out" >&2
        exit 1
      fi
      echo "$port" >"$dir/$kind.port"
    done
    ;;
  stop)
    for kind in http https named; do
      if [ -f "$dir/$kind.pid" ]; then
        kill "$(cat "$dir/$kind.pid")" 2>/dev/null || true
        rm -f "$dir/$kind.pid"
      fi
    done
    ;;
  *)
    echo "usage: $0 start|stop DIR [SERVER SCENARIO]" >&2
    exit 2
    ;;
esac
