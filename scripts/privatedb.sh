#!/usr/bin/env bash
# Private PostgreSQL and MariaDB servers on free loopback ports, for the tests and for trying
# gatemill out. Everything lives under the directory given; nothing else on the machine changes.
#
#   scripts/privatedb.sh start <dir> [pg|maria|all]   start (or reuse) the servers, default all
#   scripts/privatedb.sh stop <dir>                   stop them; their data stays for the next start
#   scripts/privatedb.sh wipe <dir>                   stop them and delete their data
#
# After start, <dir> holds odbcinst.ini (the Debian drivers by path), odbc.ini (DSNs gm_pg,
# gm_maria, and gm_sqlite over the file <dir>/sqlite.db) and db.env, a shell file that exports
# ODBCSYSINI, ODBCINI and the GM_PG_* and GM_MARIA_* settings of the servers that run. Every DSN
# is checked through unixODBC's isql before start succeeds. The script is quiet unless something
# fails; then it prints the server's log tail.
#
# Layout: the servers' state lives in <root>/pg and <root>/maria, where <root> is <dir> itself,
# or a directory under /tmp (named in <dir>/root.path) when the user postgres cannot reach <dir>
# or <dir> is too long for a unix socket path.
set -euo pipefail

readonly SETUP_VERSION=1  # bump when the roles or databases made at first start change
readonly ODBC_DRIVER_DIR=/usr/lib/x86_64-linux-gnu/odbc
readonly PG_TEST_USER=gmtest PG_TEST_DB=gmtest PG_NOSUPER_USER=gmnosuper
readonly MARIA_TEST_USER=gmtest MARIA_TEST_DB=gmtest

usage() {
    echo "usage: $0 start <dir> [pg|maria|all] | stop <dir> | wipe <dir>" >&2
    exit 2
}

# fail <message> [log file]: prints the message and the log's tail, then ends the script.
fail() {
    echo "privatedb: $1" >&2
    if [ -n "${2:-}" ] && [ -f "$2" ]; then
        echo "---- last lines of $2 ----" >&2
        tail -n 40 "$2" >&2
    fi
    exit 1
}

pg_bin() {
    local d
    if [ -x /usr/lib/postgresql/15/bin/initdb ]; then
        echo /usr/lib/postgresql/15/bin
        return
    fi
    d=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
    [ -n "$d" ] || fail "PostgreSQL is not installed (run scripts/install-deps.sh)"
    echo "$d"
}

# A random password of hex digits, so that it needs no quoting anywhere.
new_password() {
    od -An -tx1 -N12 /dev/urandom | tr -d ' \n'
}

# A loopback port that no TCP socket uses now. A server that still loses the race fails to bind;
# the callers then retry with another port.
free_port() {
    local p
    for _ in $(seq 1 200); do
        p=$((20000 + RANDOM % 12000))
        if ! ss -Htan "( sport = :$p )" | grep -q .; then
            echo "$p"
            return
        fi
    done
    fail "no free TCP port found"
}

# as_pg <command...>: runs a command as the user postgres, from a directory it may enter, without
# the lock descriptor (a server that inherited it would hold the lock for ever).
as_pg() {
    (cd / && runuser -u postgres -- "$@" 9>&-)
}

# Chooses <root>: <dir>, or a private directory under /tmp remembered in <dir>/root.path. Only
# start makes a new one.
choose_root() {
    if [ -f "$dir/root.path" ]; then
        root=$(cat "$dir/root.path")
        if [ -d "$root" ]; then
            return
        fi
    fi
    if [ "$command" != start ] || { [ ${#dir} -le 60 ] && runuser -u postgres -- test -x "$dir" 2>/dev/null; }; then
        root=$dir
        rm -f "$dir/root.path"
        return
    fi
    root=$(mktemp -d /tmp/gm-privatedb.XXXXXX)
    chmod 755 "$root"
    echo "$root" >"$dir/root.path"
}

# ---------------------------------------------------------------- PostgreSQL

pg_is_running() {
    [ -f "$root/pg/data/postmaster.pid" ] && as_pg "$PG_BIN/pg_ctl" status -D "$root/pg/data" >/dev/null 2>&1
}

pg_port() {
    sed -n 4p "$root/pg/data/postmaster.pid"
}

pg_is_complete() {
    [ "$(cat "$root/pg/ready" 2>/dev/null)" = "$SETUP_VERSION" ]
}

pg_start_server() {
    local d=$root/pg port
    for _ in 1 2 3; do
        port=$(free_port)
        if as_pg "$PG_BIN/pg_ctl" start -D "$d/data" -w -t 60 -l "$d/server.log" \
            -o "-p $port" >"$d/pg_ctl.log" 2>&1; then
            return
        fi
        # A failed start may have left a half-started server behind.
        as_pg "$PG_BIN/pg_ctl" stop -D "$d/data" -m immediate -w >/dev/null 2>&1 || true
    done
    fail "PostgreSQL did not start in $d" "$d/server.log"
}

pg_psql() {  # pg_psql <database>: runs the SQL on standard input as the superuser postgres
    as_pg "$PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$root/pg" -p "$(pg_port)" -U postgres -d "$1" \
        >>"$root/pg/setup.log" 2>&1 || fail "PostgreSQL set-up failed" "$root/pg/setup.log"
}

pg_init() {
    local d=$root/pg pw nopw
    rm -rf "$d"
    mkdir -p "$d"
    chown postgres:postgres "$d"
    chmod 700 "$d"
    as_pg "$PG_BIN/initdb" -D "$d/data" -U postgres -E WIN1252 --locale=C \
        --auth-local=peer --auth-host=scram-sha-256 >"$d/initdb.log" 2>&1 ||
        fail "initdb failed in $d" "$d/initdb.log"
    # Throw-away test servers: durability is not worth the time.
    cat >>"$d/data/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$d'
max_connections = 200
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
    pg_start_server
    pw=$(new_password)
    nopw=$(new_password)
    pg_psql postgres <<EOF
CREATE ROLE $PG_TEST_USER LOGIN SUPERUSER PASSWORD '$pw';
CREATE DATABASE $PG_TEST_DB OWNER $PG_TEST_USER ENCODING 'WIN1252' LC_COLLATE 'C' LC_CTYPE 'C'
    TEMPLATE template0;
CREATE ROLE $PG_NOSUPER_USER LOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE PASSWORD '$nopw';
EOF
    pg_psql "$PG_TEST_DB" <<EOF
REVOKE CREATE ON SCHEMA public FROM PUBLIC;
REVOKE CREATE ON DATABASE $PG_TEST_DB FROM PUBLIC;
GRANT CONNECT ON DATABASE $PG_TEST_DB TO $PG_NOSUPER_USER;
EOF
    cat >"$d/credentials" <<EOF
PG_PASSWORD=$pw
PG_NOSUPER_PASSWORD=$nopw
EOF
    echo "$SETUP_VERSION" >"$d/ready"
}

pg_start() {
    if pg_is_running && pg_is_complete; then
        return
    fi
    if pg_is_complete; then
        pg_start_server
    else
        pg_stop
        pg_init
    fi
}

pg_stop() {
    if [ -f "$root/pg/data/postmaster.pid" ]; then
        as_pg "$PG_BIN/pg_ctl" stop -D "$root/pg/data" -m fast -w -t 60 >/dev/null 2>&1 || true
    fi
}

# ---------------------------------------------------------------- MariaDB

maria_pid() {
    cat "$root/maria/mariadbd.pid" 2>/dev/null || true
}

maria_admin() {
    mariadb-admin --no-defaults --socket="$root/maria/mariadb.sock" -uroot "$@"
}

maria_is_running() {
    local pid
    pid=$(maria_pid)
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && maria_admin ping >/dev/null 2>&1
}

maria_is_complete() {
    [ "$(cat "$root/maria/ready" 2>/dev/null)" = "$SETUP_VERSION" ]
}

# Starts mariadbd in its own session and waits until it answers; false when it died or hung.
maria_try_start() {
    local d=$root/maria port=$1 pid
    rm -f "$d/mariadbd.pid"
    setsid mariadbd --no-defaults --datadir="$d/data" --pid-file="$d/mariadbd.pid" \
        --socket="$d/mariadb.sock" --port="$port" --bind-address=127.0.0.1 --skip-networking=0 \
        --user=root --log-error="$d/server.log" --skip-name-resolve --max-connections=200 \
        --character-set-server=latin1 --collation-server=latin1_swedish_ci \
        --innodb-flush-log-at-trx-commit=0 --innodb-buffer-pool-size=64M --skip-log-bin \
        </dev/null >>"$d/server.log" 2>&1 9>&- &
    pid=$!
    for _ in $(seq 1 600); do
        if ! kill -0 "$pid" 2>/dev/null; then
            return 1
        fi
        if maria_admin ping >/dev/null 2>&1; then
            echo "$port" >"$d/port"
            return 0
        fi
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    return 1
}

maria_start_server() {
    for _ in 1 2 3; do
        if maria_try_start "$(free_port)"; then
            return
        fi
    done
    fail "MariaDB did not start in $root/maria" "$root/maria/server.log"
}

maria_init() {
    local d=$root/maria pw
    rm -rf "$d"
    mkdir -p "$d"
    mariadb-install-db --no-defaults --datadir="$d/data" --user=root \
        --auth-root-authentication-method=normal --skip-test-db >"$d/install.log" 2>&1 ||
        fail "mariadb-install-db failed in $d" "$d/install.log"
    maria_start_server
    pw=$(new_password)
    mariadb --no-defaults --socket="$d/mariadb.sock" -uroot >"$d/setup.log" 2>&1 <<EOF ||
CREATE DATABASE $MARIA_TEST_DB CHARACTER SET latin1 COLLATE latin1_swedish_ci;
CREATE USER '$MARIA_TEST_USER'@'127.0.0.1' IDENTIFIED BY '$pw';
CREATE USER '$MARIA_TEST_USER'@'localhost' IDENTIFIED BY '$pw';
GRANT ALL PRIVILEGES ON *.* TO '$MARIA_TEST_USER'@'127.0.0.1' WITH GRANT OPTION;
GRANT ALL PRIVILEGES ON *.* TO '$MARIA_TEST_USER'@'localhost' WITH GRANT OPTION;
EOF
        fail "MariaDB set-up failed" "$d/setup.log"
    echo "MARIA_PASSWORD=$pw" >"$d/credentials"
    echo "$SETUP_VERSION" >"$d/ready"
}

maria_start() {
    if maria_is_running && maria_is_complete; then
        return
    fi
    maria_stop
    if maria_is_complete; then
        maria_start_server
    else
        maria_init
    fi
}

maria_stop() {
    local pid
    pid=$(maria_pid)
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 1 600); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
    fi
    rm -f "$root/maria/mariadbd.pid"
}

# ---------------------------------------------------------------- both

# Ends every process whose command line names one of this directory's data directories: servers
# left behind by a killed script or a lost pid file.
kill_strays() {
    local p cmd pids=()
    for p in /proc/[0-9]*; do
        p=${p#/proc/}
        [ "$p" = "$$" ] && continue
        cmd=$(tr '\0' ' ' 2>/dev/null <"/proc/$p/cmdline") || continue
        case "$cmd" in
            *"$root/pg/data"* | *"$root/maria/data"*) pids+=("$p") ;;
        esac
    done
    [ ${#pids[@]} -gt 0 ] || return 0
    kill -TERM "${pids[@]}" 2>/dev/null || true
    for _ in $(seq 1 100); do
        kill -0 "${pids[@]}" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "${pids[@]}" 2>/dev/null || true
}

# Writes odbcinst.ini, odbc.ini and db.env for the servers that run now.
write_config() {
    local pg=$1 maria=$2 tmp
    # PostgreSQL through psqlODBC's ANSI driver, with the client encoding pinned to the database's:
    # the product makes the ANSI calls and its texts are WIN1252 bytes, so every byte must reach
    # the database and come back unchanged. Left alone, psqlODBC takes the client encoding from
    # the process's locale (UTF8 under C.UTF-8), and a byte such as 0xE9 is refused as invalid.
    # Every other key keeps psqlODBC 13's default. Its server-side prepare spends two extra round
    # trips on a statement's first run (parse, then describe) and lets every later run reuse the
    # plan, which is worth more to the record fetch that each move makes (UseServerSidePrepare=0
    # saves the two trips and is slower on every run after). No key spares the catalogue query
    # that the first SQLDescribeCol of a result sends once per connection and table.
    cat >"$dir/odbcinst.ini" <<EOF
[gm PostgreSQL]
Description=PostgreSQL ANSI driver
Driver=$ODBC_DRIVER_DIR/psqlodbca.so

[gm MariaDB]
Description=MariaDB Connector/ODBC
Driver=$ODBC_DRIVER_DIR/libmaodbc.so

[gm SQLite]
Description=SQLite 3 ODBC driver
Driver=$ODBC_DRIVER_DIR/libsqlite3odbc.so
DontDLClose=1
EOF
    tmp=$(mktemp "$dir/.db.env.XXXXXX")
    {
        echo "# Settings of the private database servers in $dir (written by privatedb.sh)."
        echo "export ODBCSYSINI='$dir'"
        echo "export ODBCINI='$dir/odbc.ini'"
    } >"$tmp"
    # SQLite needs no server: its database is a file beside this configuration. Tests that run
    # at once wait up to Timeout milliseconds for each other's writes.
    cat >"$dir/odbc.ini" <<EOF
[gm_sqlite]
Driver=gm SQLite
Database=$dir/sqlite.db
Timeout=30000

EOF
    if [ "$pg" = 1 ]; then
        # shellcheck disable=SC1091
        . "$root/pg/credentials"
        cat >>"$dir/odbc.ini" <<EOF
[gm_pg]
Driver=gm PostgreSQL
Servername=127.0.0.1
Port=$(pg_port)
Database=$PG_TEST_DB
Username=$PG_TEST_USER
Password=$PG_PASSWORD
ConnSettings=SET client_encoding TO 'WIN1252'

EOF
        cat >>"$tmp" <<EOF
export GM_PG_PORT='$(pg_port)'
export GM_PG_USER='$PG_TEST_USER'
export GM_PG_PASSWORD='$PG_PASSWORD'
export GM_PG_DB='$PG_TEST_DB'
export GM_PG_NOSUPER_USER='$PG_NOSUPER_USER'
export GM_PG_NOSUPER_PASSWORD='$PG_NOSUPER_PASSWORD'
EOF
    fi
    if [ "$maria" = 1 ]; then
        # shellcheck disable=SC1091
        . "$root/maria/credentials"
        cat >>"$dir/odbc.ini" <<EOF
[gm_maria]
Driver=gm MariaDB
SERVER=127.0.0.1
PORT=$(cat "$root/maria/port")
DATABASE=$MARIA_TEST_DB
USER=$MARIA_TEST_USER
PASSWORD=$MARIA_PASSWORD
CHARSET=latin1

EOF
        cat >>"$tmp" <<EOF
export GM_MARIA_PORT='$(cat "$root/maria/port")'
export GM_MARIA_USER='$MARIA_TEST_USER'
export GM_MARIA_PASSWORD='$MARIA_PASSWORD'
export GM_MARIA_DB='$MARIA_TEST_DB'
EOF
    fi
    mv -f "$tmp" "$dir/db.env"  # readers never see a half-written file
}

# check_dsn <dsn> <user> <password>: one query through unixODBC, or the script fails.
check_dsn() {
    local log=$dir/isql.log
    if ! ODBCSYSINI=$dir ODBCINI=$dir/odbc.ini isql -b "$1" "$2" "$3" <<<"select 1" >"$log" 2>&1 ||
        grep -q "ERROR" "$log"; then
        fail "DSN $1 does not answer through unixODBC as $2" "$log"
    fi
    rm -f "$log"
}

cmd_start() {
    local pg=0 maria=0
    case "$which" in
        pg) pg_start ;;
        maria) maria_start ;;
        all) pg_start && maria_start ;;
        *) usage ;;
    esac
    if pg_is_running && pg_is_complete; then pg=1; fi
    if maria_is_running && maria_is_complete; then maria=1; fi
    write_config "$pg" "$maria"
    if [ "$pg" = 1 ]; then
        # shellcheck disable=SC1091
        . "$root/pg/credentials"
        check_dsn gm_pg "$PG_TEST_USER" "$PG_PASSWORD"
        check_dsn gm_pg "$PG_NOSUPER_USER" "$PG_NOSUPER_PASSWORD"
    fi
    check_dsn gm_sqlite "" ""
    if [ "$maria" = 1 ]; then
        # shellcheck disable=SC1091
        . "$root/maria/credentials"
        check_dsn gm_maria "$MARIA_TEST_USER" "$MARIA_PASSWORD"
    fi
}

cmd_stop() {
    pg_stop
    maria_stop
    kill_strays
    write_config 0 0
}

cmd_wipe() {
    cmd_stop
    if [ "$root" != "$dir" ]; then
        rm -rf "$root"
    fi
    rm -rf "$dir/pg" "$dir/maria" "$dir/root.path" "$dir/odbc.ini" "$dir/odbcinst.ini" "$dir/db.env" \
        "$dir/sqlite.db"
}

[ $# -ge 2 ] || usage
command=$1
mkdir -p "$2"
dir=$(cd "$2" && pwd -P)
which=${3:-all}
[ "$(id -u)" = 0 ] || fail "must run as root (the servers run as postgres and root)"
PG_BIN=$(pg_bin)
readonly PG_BIN

# One run at a time per directory.
exec 9>"$dir/.lock"
flock 9
root=
choose_root

case "$command" in
    start) cmd_start ;;
    stop) cmd_stop ;;
    wipe) cmd_wipe ;;
    *) usage ;;
esac
