# Shared by the rvo tool tests: failure counting and command expectations.
# Source it after setting RVO (the tool) and DIR (a fresh scratch folder).
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect CODE PATTERN -- command...: the exit code, and PATTERN (an extended
# regular expression) somewhere in stdout and stderr together.
expect() {
    local code="$1" pattern="$2"
    shift 3
    local out rc
    out=$("$@" 2>&1)
    rc=$?
    [ "$rc" = "$code" ] || fail "'$*' exited $rc, expected $code: $out"
    [ -z "$pattern" ] || grep -Eq -- "$pattern" <<<"$out" || fail "'$*' output lacks /$pattern/: $out"
}

# expect_failure PATTERN -- command...: exit 1 with exactly one line on stderr,
# "rvo: FILE: problem", matching PATTERN; nothing on stdout.
expect_failure() {
    local pattern="$1"
    shift 2
    local err rc
    err=$("$@" 2>&1 >/dev/null)
    rc=$?
    [ "$rc" = 1 ] || fail "'$*' exited $rc, expected 1: $err"
    [ "$(printf '%s\n' "$err" | wc -l)" = 1 ] || fail "'$*' error spans several lines: $err"
    grep -Eq -- "^rvo: .*$pattern" <<<"$err" || fail "'$*' error lacks /$pattern/: $err"
}

# u32 at offset of a file, little-endian.
u32_at() { od -A n -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }

# Index-archive pieces of an image-list file, byte by byte: a u32, zero bytes,
# an archive string (UTF-16 marker and length, then the text), and one index
# record naming a still image: record KIND NAME START LAST.
u32() { printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))"; }
zeros() { head -c "$1" /dev/zero; }
name() {
    printf '\xff\xfe\xff'
    printf "$(printf '\\x%02x' ${#1})"
    for ((i = 0; i < ${#1}; i++)); do printf '%s\x00' "${1:i:1}"; done
}
record() {   # kind name start last
    u32 0; u32 "$1"; name "$2"; u32 0; u32 0; u32 "$3"; u32 "$4"; u32 1; u32 0; u32 0; u32 0; u32 0
    zeros 64; u32 0; zeros 32
}

finish() {
    [ "$failures" = 0 ] && echo "all $1 checks passed"
    exit $((failures > 0))
}
