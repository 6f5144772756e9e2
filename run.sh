#!/usr/bin/env bash
# Installs what is missing, builds gatemill, starts a private PostgreSQL for it and runs the server
# pellmar in console mode in the working directory .run/ (its gatemill.ini, logs and dumps live
# there). The database keeps its data under .run/db for the next run and stops with pellmar.
# Usage: ./run.sh [port]   (default: [General] Port of .run/gatemill.ini, else 7890)
set -euo pipefail
cd "$(dirname "$0")"
port=${1:-${GATEMILL_PORT:-}}
if [ -n "$port" ] && { ! [[ $port =~ ^[0-9]+$ ]] || ((port < 1 || port > 65535)); }; then
    echo "run.sh: the port must be a number from 1 to 65535, not '$port'"; exit 2
fi
./scripts/install-deps.sh
log=build/release.log
mkdir -p build
if ! { cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DGM_TESTS=OFF \
       && cmake --build build/release -j "$(nproc)"; } >"$log" 2>&1; then
    tail -n 60 "$log"; echo "build failed: see $log"; exit 1
fi
if [ ! -x build/release/server/pellmar ]; then
    echo "pellmar is not built yet; the libraries were built in build/release."
    exit 0
fi

readonly ALIAS=gatemill          # the data source and the environment's alias
here=$(pwd)
run=$here/.run
db=$run/db
mkdir -p "$run"

# The private PostgreSQL, made on the first run and reused afterwards; it stops with pellmar.
"$here/scripts/privatedb.sh" start "$db" pg
trap '"$here/scripts/privatedb.sh" stop "$db"' EXIT
# shellcheck disable=SC1091
. "$db/db.env"

# The data source of the alias, beside the harness's own.
cat >"$run/odbc.ini" <<EOF
[$ALIAS]
Driver=gm PostgreSQL
Servername=127.0.0.1
Port=$GM_PG_PORT
Database=$GM_PG_DB
EOF
export ODBCINI=$run/odbc.ini

# The alias's section of gatemill.ini, written anew, and the port: one given as the first
# argument (or GATEMILL_PORT) becomes [General] Port; without one the ini decides, and pellmar's
# default is 7890.
port=$("$here/scripts/runini.sh" "$run/gatemill.ini" "POSTGRES/$ALIAS" "$GM_PG_USER" \
    "$GM_PG_PASSWORD" "$port")
echo "gatemill: clients connect to port ${port:-7890} with the environment \"POSTGRES/$ALIAS\"."

cp build/release/server/pellmar "$run/pellmar"
cd "$run"
# Ctrl-C belongs to pellmar, which asks before it stops; this script only waits for it to end.
trap ':' INT
./pellmar -console
