#!/usr/bin/env bash
# Builds the benchmarks in Release (build/bench), starts the private PostgreSQL, and runs the
# benchmark programs, the client, the servers (bench/benchpeer: gateway, echo and floor; for the
# lock-connection benchmark also a second benchpeer, a slave of that gateway, on the servers' CPU)
# and the database each pinned to a CPU of its own when the machine has three. Each benchmark runs several
# times, interleaved at random with the program's others; the table printed at the end has the
# median of each row over those runs, the lowest and the highest. stringz_bench is left out: its
# tString costs have no row here, and its appends without Reserve take minutes.
#
# Usage: bench/run.sh [runs]   (default 3)
#   GM_BENCH_CPUS=client,server,database   the CPUs to pin to (default: the machine's last three)
#   GM_BENCH_JOBS=n                        build jobs (default 4)
# The programs' whole output stays in build/bench/results/.
#
#        bench/run.sh --smoke <build dir>
# runs every benchmark of an existing build once, as briefly as it can, unpinned, and fails when
# one of them fails: the test command's check that no benchmark rots. Nothing is measured.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$(pwd)
smoke=
if [ "${1:-}" = "--smoke" ]; then
    if [ ! -d "${2:-}/bench" ]; then
        echo "bench/run.sh: --smoke needs a build directory with the benchmarks, not '${2:-}'"; exit 2
    fi
    smoke=1
    build=$(cd "$2" && pwd)
    runs=1
    results=$build/bench-smoke
else
    runs=${1:-3}
    if ! [[ $runs =~ ^[1-9][0-9]*$ ]]; then
        echo "bench/run.sh: the number of runs must be a positive number, not '$runs'"; exit 2
    fi
    build=$here/build/bench
    results=$build/results
fi
mkdir -p "$results"
rm -f "$results"/*
failed=0

# ---------------------------------------------------------------- CPUs

cpu_client= cpu_server= cpu_db=
if [ -n "${GM_BENCH_CPUS:-}" ]; then
    IFS=, read -r cpu_client cpu_server cpu_db <<<"$GM_BENCH_CPUS"
    for cpu in "$cpu_client" "$cpu_server" "$cpu_db"; do
        if ! [[ $cpu =~ ^[0-9]+$ ]]; then
            echo "bench/run.sh: GM_BENCH_CPUS must be three CPU numbers, not '$GM_BENCH_CPUS'"; exit 2
        fi
    done
elif [ -z "$smoke" ] && (($(nproc) >= 3)); then
    n=$(nproc)
    cpu_client=$((n - 1)) cpu_server=$((n - 2)) cpu_db=$((n - 3))
fi

# pinned <cpu>: the words that run a command pinned to the CPU, none without one. They go before
# the command in one simple command, so that a command started in the background keeps the pid
# that $! gives (taskset runs it in its own place).
pinned() {
    if [ -n "$1" ]; then echo "taskset -c $1"; fi
}

# ---------------------------------------------------------------- build

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if [ -z "$smoke" ] &&
    ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DGM_TESTS=OFF -DGM_BENCH=ON \
       "${launcher[@]}" && cmake --build "$build" -j "${GM_BENCH_JOBS:-4}"; } >"$build.log" 2>&1; then
    tail -n 60 "$build.log"; echo "build failed: see $build.log"; exit 1
fi

# ---------------------------------------------------------------- database

testdb=$build/testdb
[ -n "$smoke" ] && testdb=$build/bench-smoke-db  # not the test run's own
peer_pids=()
cleanup() {
    stop_peer
    "$here/scripts/privatedb.sh" stop "$testdb" || true
}
trap cleanup EXIT
"$here/scripts/privatedb.sh" start "$testdb" pg
# shellcheck disable=SC1091
. "$testdb/db.env"
export GM_TESTDB_ENV=$testdb/db.env

# The postmaster and every process it has started, pinned; the backends it starts later inherit.
if [ -n "$cpu_db" ]; then
    root=$testdb
    [ -f "$testdb/root.path" ] && root=$(cat "$testdb/root.path")
    postmaster=$(head -n 1 "$root/pg/data/postmaster.pid")
    for pid in "$postmaster" $(ps -o pid= --ppid "$postmaster"); do
        taskset -a -p -c "$cpu_db" "$pid" >/dev/null
    done
fi

# ---------------------------------------------------------------- servers and programs

# start_peer <cpu> [slave]: benchpeer started on the CPU, its ports exported once it has printed
# them; with "slave", a second benchpeer beside the first, the slave of its gateway.
start_peer() {
    local name=benchpeer lines=3 args=()
    if [ -n "${2:-}" ]; then
        name=benchpeer-slave lines=1 args=(--slave "$GM_BENCH_GATEWAY")
    fi
    local out=$results/$name.ports pid
    : >"$out"
    # shellcheck disable=SC2046
    $(pinned "$1") "$build/bench/benchpeer" "${args[@]}" >"$out" 2>>"$results/$name.err" &
    pid=$!
    peer_pids+=("$pid")
    for _ in $(seq 1 600); do
        if [ "$(grep -c '^GM_BENCH_' "$out")" = "$lines" ]; then
            set -a
            # shellcheck disable=SC1090
            . "$out"
            set +a
            return
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "$name did not start: see $results/$name.err"; exit 1
}

# The slave first: its clients' lock connections end before the master goes.
stop_peer() {
    local i
    for ((i = ${#peer_pids[@]} - 1; i >= 0; i--)); do
        kill "${peer_pids[i]}" 2>/dev/null || true
        wait "${peer_pids[i]}" 2>/dev/null || true
    done
    peer_pids=()
}

# run <program> <server cpu> [<label> <text> <benchmark args...>]: the program's benchmarks,
# with benchpeer on the server CPU for the programs that talk to it; its rows go to rows.txt, with
# "@<label>" after the key and " (<text>)" after the row's text when labelled.
run() {
    local program=$1 cpu=$2 label=${3:-} text=${4:-} out
    shift $(($# < 4 ? $# : 4))
    out=$results/$program${label:+-$label}.txt
    case "$program" in
        monitor_bench | dbserver_write_bench | wire_bench) start_peer "$cpu" ;;
        lockconn_bench) start_peer "$cpu" && start_peer "$cpu" slave ;;
    esac
    echo "$program${label:+ ($text)}"
    local how=(--benchmark_repetitions="$runs" --benchmark_enable_random_interleaving=true)
    [ -n "$smoke" ] && how=(--benchmark_min_time=0.001)
    # shellcheck disable=SC2046
    if ! $(pinned "$cpu_client") timeout -k 10 900 "$build/bench/$program" "${how[@]}" "$@" \
        >"$out" 2>&1; then
        echo "  $program failed: see $out"
        tail -n 20 "$out"
        failed=1
    fi
    stop_peer
    grep '^GMROW|' "$out" | awk -F'|' -v label="$label" -v text="$text" -v OFS='|' '
        label != "" { $2 = $2 "@" label; $5 = $5 " (" text ")" }
        { print $2, $3, $4, $5 }' >>"$results/rows.txt" || true
}

: >"$results/rows.txt"
for program in locks_bench dbserver_write_bench monitor_bench wire_bench isam_nav_bench \
    odbc_fetch_bench lockconn_bench; do
    run "$program" "$cpu_server"
done
if [ -n "$smoke" ]; then
    # The appends without Reserve take minutes: the smoke pass leaves them out.
    for program in sslex_bench filterengine_bench; do run "$program" ""; done
    run stringz_bench "" brief "without the unreserved appends" \
        --benchmark_filter=-BuildMegabyteByTenByteAppends/0
    if [ "$failed" = 0 ]; then echo "every benchmark ran"; fi
    exit "$failed"
fi
if [ -n "$cpu_client" ]; then
    run monitor_bench "$cpu_client" onecpu "client and gateway on one CPU" \
        --benchmark_filter=RoundTrip
fi
# ---------------------------------------------------------------- the table

echo
echo "gatemill benchmarks: $runs runs, medians; client CPU ${cpu_client:-any}, server CPU" \
     "${cpu_server:-any}, database CPU ${cpu_db:-any}; load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| what | median | lowest - highest | runs | goal |"
echo "|---|---|---|---|---|"
awk -F'|' '!seen[$1]++ { print $1 }' "$results/rows.txt" | while read -r key; do
    awk -F'|' -v key="$key" '$1 == key { print $2 }' "$results/rows.txt" | sort -g >"$results/.values"
    count=$(wc -l <"$results/.values")
    awk -F'|' -v key="$key" -v count="$count" -v values="$results/.values" '
        BEGIN {
            goal["lock_100000"] = "<= 0.3 us"; goal["appends16"] = ">= 0.30x"
            goal["goto_readers"] = "<= 1.1x"; goal["monitor_build"] = "<= 1.05x"
            goal["monitor_build@onecpu"] = "<= 1.05x"; goal["client_build"] = "<= 1.05x"
            goal["burst_served"] = "200"; goal["burst_seconds"] = "<= 2 s"
            while ((getline v < values) > 0) sorted[++n] = v
            median = n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
        }
        $1 == key && !done {
            printf "| %s | %.3g %s | %.3g - %.3g | %d | %s |\n", $4, median, $3, sorted[1],
                   sorted[n], count, (key in goal) ? goal[key] : ""
            done = 1
        }' "$results/rows.txt"
done
rm -f "$results/.values"
