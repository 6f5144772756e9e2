#!/usr/bin/env bash
# Writes an environment's section of a gatemill.ini anew (its user and enciphered password),
# keeping the rest of the file; sets [General] Port when a port is given; prints the port that
# the ini then names, or nothing when it names none.
# Usage: runini.sh <ini> <environment> <user> <password> [port]
set -euo pipefail
# Byte-wise throughout: an enciphered password is text in no locale, and awk in a UTF-8 locale
# warns of "invalid multibyte data" on every line that holds one.
export LC_ALL=C
if [ $# -lt 4 ] || [ $# -gt 5 ]; then
    echo "usage: runini.sh <ini> <environment> <user> <password> [port]" >&2; exit 2
fi
ini=$1 environment=$2 user=$3 password=$4 port=${5:-}
readonly KEY=Qerlavinth  # the key of the passwords kept in gatemill.ini

# The ini form of a password: each byte b becomes ((b + k) mod 256) xor k, k being the key's byte
# at the same place (the key repeats).
encipher() {
    local text=$1 out="" i b k
    for ((i = 0; i < ${#text}; i++)); do
        printf -v b '%d' "'${text:i:1}"
        printf -v k '%d' "'${KEY:i%${#KEY}:1}"
        printf -v b '\\0%03o' $(( ((b + k) & 255) ^ k ))
        printf -v b '%b' "$b"
        out+=$b
    done
    printf '%s' "$out"
}

[ -f "$ini" ] || printf '[General]\r\n' >"$ini"
awk -v section="[$environment]" '
    BEGIN { section = tolower(section) }
    {
        line = tolower($0)
        sub(/[ \t\r]+$/, "", line)
        if (substr(line, 1, 1) == "[") skip = (line == section)
    }
    !skip' "$ini" >"$ini.new"
{
    printf '[%s]\r\n' "$environment"
    printf 'user=%s\r\n' "$user"
    printf 'password=%s\r\n' "$(encipher "$password")"
} >>"$ini.new"
mv -f "$ini.new" "$ini"

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
awk '
    { line = tolower($0); sub(/[ \t\r]+$/, "", line) }
    substr(line, 1, 1) == "[" { general = (line == "[general]"); next }
    general && line ~ /^[ \t]*port[ \t]*=/ { sub(/^[^=]*=[ \t]*/, "", line); print line + 0; exit }' "$ini"
