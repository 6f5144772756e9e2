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
readonly KEY=Qerlavinth          # the key of the passwords kept in gatemill.ini
here=$(pwd)
run=$here/.run
db=$run/db
mkdir -p "$run"

# The ini form of a password: each byte b becomes ((b + k) mod 256) xor k, k being the key's byte
# at the same place (the key repeats).
encipher() {
    local LC_ALL=C text=$1 out="" i b k
    for ((i = 0; i < ${#text}; i++)); do
        printf -v b '%d' "'${text:i:1}"
        printf -v k '%d' "'${KEY:i%${#KEY}:1}"
        printf -v b '\\0%03o' $(( ((b + k) & 255) ^ k ))
        printf -v b '%b' "$b"
        out+=$b
    done
    printf '%s' "$out"
}

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

# The alias's section of gatemill.ini, written anew; the rest of the file stays as it is.
ini=$run/gatemill.ini
[ -f "$ini" ] || printf '[General]\r\n' >"$ini"
awk -v section="[postgres/$ALIAS]" '
    {
        line = tolower($0)
        sub(/[ \t\r]+$/, "", line)
        if (substr(line, 1, 1) == "[") skip = (line == section)
    }
    !skip' "$ini" >"$ini.new"
{
    printf '[POSTGRES/%s]\r\n' "$ALIAS"
    printf 'user=%s\r\n' "$GM_PG_USER"
    printf 'password=%s\r\n' "$(encipher "$GM_PG_PASSWORD")"
} >>"$ini.new"
mv -f "$ini.new" "$ini"

# A port given as the first argument (or GATEMILL_PORT) becomes [General] Port; without one the
# ini decides, and pellmar's default is 7890.
if [ -n "$port" ]; then
    awk -v port="$port" '
        {
            line = tolower($0)
            sub(/[ \t\r]+$/, "", line)
            if (substr(line, 1, 1) == "[") {
                general = (line == "[general]")
                print
                if (general && !done) { printf "Port=%s\r\n", port; done = 1 }
                next
            }
            if (general && line ~ /^[ \t]*port[ \t]*=/) next
            print
        }
        END { if (!done) printf "[General]\r\nPort=%s\r\n", port }' "$ini" >"$ini.new"
    mv -f "$ini.new" "$ini"
fi
port=$(awk '
    { line = tolower($0); sub(/[ \t\r]+$/, "", line) }
    substr(line, 1, 1) == "[" { general = (line == "[general]"); next }
    general && line ~ /^[ \t]*port[ \t]*=/ { sub(/^[^=]*=[ \t]*/, "", line); print line + 0; exit }' "$ini")
echo "gatemill: clients connect to port ${port:-7890} with the environment \"POSTGRES/$ALIAS\"."

cp build/release/server/pellmar "$run/pellmar"
cd "$run"
# Ctrl-C belongs to pellmar, which asks before it stops; this script only waits for it to end.
trap ':' INT
./pellmar -console
