#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing gatemill need.
# Quiet and idempotent: apt runs only when something is missing.
set -euo pipefail
packages=(g++ cmake make pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          clang libclang-rt-14-dev postgresql unixodbc unixodbc-dev odbc-postgresql odbc-mariadb
          mariadb-server libsqliteodbc procps iproute2)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    log=$(mktemp)
    if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
        cat "$log"; rm -f "$log"; exit 1
    fi
    rm -f "$log"
fi
