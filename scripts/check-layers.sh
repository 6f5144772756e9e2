#!/usr/bin/env bash
# Refuses an include that goes up the layers: platform <- lib_base <- lib_common <- the server's
# layers in their order <- the program, with the client library beside the server. Above the
# drivers, only the driver factory's header may name a driver file, and nothing includes tools/,
# whose host programs only write sources. Prints each upward include and exits 1 when there is one.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# Each folder with its rank; a folder may include its own rank and the ranks below it. The
# client sits beside the server: it ranks above lib_common and may include no server folder; the
# server reaches the client library only through its public header.
order="platform lib_base lib_common server/locks server/tables server/runtime server/filter"
order="$order server/isam server/drivers server/dispatch server/process"

grep -rn --include='*.h' --include='*.cpp' --include='*.c' '^[[:space:]]*#include[[:space:]]*"' \
    platform lib_base lib_common server client |
awk -v order="$order" '
    BEGIN {
        n = split(order, names, " ")
        for (i = 1; i <= n; i++) rank[names[i]] = i
        rank["client"] = rank["lib_common"] + 0.5
        bad = 0
    }
    function folder(path, parts) {
        split(path, parts, "/")
        return parts[1] == "server" ? parts[1] "/" parts[2] : parts[1]
    }
    {
        file = $0; sub(/:.*/, "", file)
        target = $0; sub(/^[^"]*"/, "", target); sub(/".*/, "", target)
        from = folder(file); to = folder(target)
        if (target ~ /^tools\//) {
            print file " includes " target ": tools/ holds host programs, never part of a library"
            bad = 1
            next
        }
        if (!(to in rank) || !(from in rank)) next  # a header beside the file
        api = target == "client/gatemillapi.h" && from ~ /^server/
        up = rank[to] > rank[from] || (to == "client" && from != "client" && !api) \
             || (from == "client" && to ~ /^server/)
        driver = to == "server/drivers" && from != to && target != "server/drivers/factory.h"
        if (up || driver) {
            print file " includes " target ": " from " may not reach " to (driver ? " except through server/drivers/factory.h" : "")
            bad = 1
        }
    }
    END {
        if (!bad) print "layers: every include goes down"
        exit bad
    }'
