#!/usr/bin/env bash
# Checks the shared client library against its public header: it exports every GM_ function the
# header declares and no other symbol, and the header compiles as C.
# Usage: check-api-exports.sh <libgatemillapi.so> <gatemillapi.h>
set -euo pipefail
library=$1
header=$2
exported=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
declared=$(grep -o 'GM_[A-Za-z0-9_]*(' "$header" | tr -d '(' | sort -u)
failed=0
stray=$(comm -23 <(echo "$exported") <(echo "$declared"))
missing=$(comm -13 <(echo "$exported") <(echo "$declared"))
if [[ -n "$stray" ]]; then
    echo "exported but not declared:"; echo "$stray"; failed=1
fi
if [[ -n "$missing" ]]; then
    echo "declared but not exported:"; echo "$missing"; failed=1
fi
if ! cc -fsyntax-only -x c -std=c99 -Wall -Wextra -Werror "$header"; then
    echo "the header does not compile as C"; failed=1
fi
echo "$(echo "$declared" | wc -l) functions checked"
exit $failed
