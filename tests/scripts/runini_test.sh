#!/usr/bin/env bash
# The run script's ini writer in a UTF-8 locale: a first run and a second one print nothing but
# the port, keep one section of the environment whose password reads back byte for byte as
# enciphered, and keep the other sections and [General] Port as asked.
# Usage: runini_test.sh <runini.sh>
set -euo pipefail
writer=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
ini=$dir/gatemill.ini
fail() { echo "FAIL: $*" >&2; exit 1; }

export LC_ALL=C.UTF-8
# Every byte of this password enciphers to a byte above 127, which no UTF-8 text holds alone.
password=pw
for run in first second; do
    port=$("$writer" "$ini" "POSTGRES/gatemill" gm "$password" 7001 2>"$dir/err")
    [ ! -s "$dir/err" ] || fail "$run run printed: $(cat "$dir/err")"
    [ "$port" = 7001 ] || fail "$run run answered the port '$port'"
done
printf '[MYSQL/other]\r\nuser=x\r\n' >>"$ini"
port=$("$writer" "$ini" "POSTGRES/gatemill" gm "$password" 2>"$dir/err")
[ ! -s "$dir/err" ] || fail "a run without a port printed: $(cat "$dir/err")"
[ "$port" = 7001 ] || fail "the ini's own port was not answered: '$port'"

[ "$(grep -c '^\[POSTGRES/gatemill\]' "$ini")" = 1 ] || fail "not one section: $(cat -v "$ini")"
[ "$(grep -c '^Port=7001' "$ini")" = 1 ] || fail "not one port line: $(cat -v "$ini")"
grep -q '^\[MYSQL/other\]' "$ini" || fail "another section was lost: $(cat -v "$ini")"
# p (112) with Q (81): (193 xor 81) = 144; w (119) with e (101): (220 xor 101) = 185.
[ "$(LC_ALL=C grep -a '^password=' "$ini" | od -An -tu1 | tr -s ' ')" = " 112 97 115 115 119 111 114 100 61 144 185 13 10" ] \
    || fail "the password line: $(cat -v "$ini")"
echo "ok"
