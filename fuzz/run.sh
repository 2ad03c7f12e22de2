#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for a given time each and reports
# executions, speed and findings.
#   fuzz/run.sh BUILD_DIR SECONDS [target...]
# BUILD_DIR is a build configured with RVO_FUZZ=ON (see `make fuzz`). Corpora
# grow in BUILD_DIR/fuzz-corpus/<target>; findings land in
# BUILD_DIR/fuzz-findings/. FUZZ_JOBS targets run side by side (default 1).
set -uo pipefail

BUILD=${1:?build folder}
SECONDS_EACH=${2:-60}
shift 2 || true
HERE=$(cd "$(dirname "$0")" && pwd)
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
    TARGETS=(open_query read_frames packed_record picture_blob field_record preload round_trip corruption crash_point)
fi
JOBS=${FUZZ_JOBS:-1}

SEEDS=$BUILD/fuzz-seeds
rm -rf "$SEEDS"
"$BUILD/fuzz/rvo_fuzz_replay" --write-seeds "$SEEDS" || exit 1
mkdir -p "$BUILD/fuzz-findings" "$BUILD/fuzz-logs"

run_one() {
    local t=$1
    local corpus=$BUILD/fuzz-corpus/$t
    mkdir -p "$corpus"
    "$BUILD/fuzz/fuzz_$t" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$BUILD/fuzz-findings/$t-" "$corpus" "$SEEDS/$t" "$HERE/regress" \
        >"$BUILD/fuzz-logs/$t.log" 2>&1
    local rc=$?
    local execs secs
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$BUILD/fuzz-logs/$t.log" | grep -o '[0-9]*$' | tail -1)
    secs=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$BUILD/fuzz-logs/$t.log" | grep -o '[0-9]*$' | tail -1)
    local cov
    cov=$(grep -o 'cov: [0-9]*' "$BUILD/fuzz-logs/$t.log" | tail -1)
    local findings
    findings=$(ls "$BUILD/fuzz-findings/" 2>/dev/null | grep -c "^$t-")
    printf '%-14s exit %-3s executions %-10s exec/s %-7s %-10s findings %s\n' \
        "$t" "$rc" "${execs:-?}" "${secs:-?}" "${cov:-}" "$findings"
}
export -f run_one
export BUILD SECONDS_EACH HERE SEEDS

printf '%s\n' "${TARGETS[@]}" | xargs -P "$JOBS" -I{} bash -c 'run_one {}'
if ls "$BUILD/fuzz-findings/"* >/dev/null 2>&1; then
    echo "findings in $BUILD/fuzz-findings/ (logs in $BUILD/fuzz-logs/)"
    exit 1
fi
