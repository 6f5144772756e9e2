#!/usr/bin/env bash
# The parse table generator on small grammars: a settled conflict builds the table the line
# asks for; an unsettled shift/reduce conflict, a reduce/reduce conflict, a resolution that meets
# no conflict and an unknown token are refused with a message naming them, and write nothing.
# Usage: yaccgen_test.sh <yaccgen>
set -euo pipefail
yaccgen=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

tokens='%list main
10  a  a
11  +  \+
12  -  -
13  -  x  ignore'
sums="$tokens
%productions
0  start: e eof
1  e: e + e
2  e: a"

# Runs yaccgen on the grammar text $2; it must fail and print a message matching $3.
refused() {
    printf '%s\n' "$2" >"$dir/$1.grammar"
    if "$yaccgen" "$dir/$1.grammar" "$dir/$1.cpp" "$dir/$1.llr" 2>"$dir/err"; then
        fail "$1: accepted"
    fi
    grep -q -- "$3" "$dir/err" || fail "$1: message '$(cat "$dir/err")'"
    [ ! -e "$dir/$1.llr" ] || fail "$1: wrote an image"
}

refused unsettled "$sums" 'state 5, production 1 (e: e + e .) on +: shift/reduce conflict without a resolution'
refused unused "$sums
%resolve
1  reduce  + -" 'line 11: production 1 on - meets no conflict'
refused reducereduce "$tokens
%productions
0  start: s eof
1  s: x
2  s: y
3  x: a
4  y: a" 'production 4 (y: a .) on eof: reduce/reduce conflict with production 3'
refused unknown "$sums
3  e: e * e" 'line 10: unknown token \*'

# Settled as reduce, "a + a + a" groups to the left: after "e + e" the + reduces by production 1.
printf '%s\n%%resolve\n1  reduce  +\n' "$sums" >"$dir/left.grammar"
summary=$("$yaccgen" -v "$dir/left.grammar" "$dir/left.cpp" "$dir/left.llr")
grep -q '^state 5, production 1 (e: e + e .) on +: reduce$' <<<"$summary" || fail "listing: $summary"
grep -q '6 states, 3 productions, 3 shifts, 4 reduces, 2 gotos, 1 accept, 1 conflicts resolved' \
    <<<"$summary" || fail "summary: $summary"
# State 5's row, the last: flags 0, no gotos, actions (reduce 1 on -1, reduce 1 on 11).
[ "$(od -An -tx4 -j192 "$dir/left.llr" | tr -s ' \n' ' ')" = \
    " 00000000 00000000 00000002 20000001 ffffffff 20000001 0000000b " ] \
    || fail "state 5: $(od -An -tx4 -j192 "$dir/left.llr")"
echo "ok"
