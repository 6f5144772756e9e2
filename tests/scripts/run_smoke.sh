#!/usr/bin/env bash
# The README's run command end to end: ./run.sh builds gatemill, starts pellmar over its private
# PostgreSQL on a free loopback port, the example client walks its main road against it, and
# pellmar stops as an operator stops it (Ctrl-C, then YES), taking the database down with it.
# Usage: run_smoke.sh <source root>
set -euo pipefail
root=$(cd "$1" && pwd)
cd "$root"
work=$(mktemp -d /tmp/gm-runsmoke.XXXXXX)
log=$work/run.log
runner=""
cleanup() {
    [ -n "$runner" ] && kill "$runner" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "run smoke: $*"; tail -n 40 "$log" 2>/dev/null || true; exit 1; }

# A loopback port that nothing answers on.
port=""
for candidate in $(shuf -i 20000-40000 -n 50); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port=$candidate; break; fi
done
[ -n "$port" ] || fail "no free port"

# pellmar reads its console from a pipe that this script keeps open.
mkfifo "$work/console"
./run.sh "$port" <"$work/console" >"$log" 2>&1 &
runner=$!
exec 3>"$work/console"

waitfor() {  # waitfor <text> <seconds>
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        grep -qF -- "$1" "$log" && return 0
        kill -0 "$runner" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
waitfor "Listening port $port " 1200 || fail "pellmar did not start listening on $port"

build/release/client/gatemill_mainroad 127.0.0.1 "$port" POSTGRES/gatemill >"$work/road.log" 2>&1 ||
    { cat "$work/road.log"; fail "the example's main road failed"; }

pellmar=$(pgrep -P "$runner" -x pellmar) || fail "no pellmar under run.sh"
kill -INT "$pellmar"
waitfor "Type YES [Enter] (uppercase) to exit:" 60 || fail "pellmar did not ask to confirm"
echo YES >&3
status=0
wait "$runner" || status=$?
runner=""
[ "$status" -eq 0 ] || fail "run.sh ended with status $status"
echo "run smoke: pellmar served the example's main road on port $port and stopped"
