#!/usr/bin/env bash
# Installs what is missing, builds gatemill and starts the server pellmar in console mode in the
# working directory .run/ (its gatemill.ini, logs and dumps live there).
set -euo pipefail
cd "$(dirname "$0")"
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
mkdir -p .run
cp build/release/server/pellmar .run/pellmar
cd .run && exec ./pellmar -console
