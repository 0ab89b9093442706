#!/bin/sh
# Builds the link's libFuzzer target with clang and runs it.
#
#   tests/fuzz/build_and_run.sh RUNS|SECONDSs [BUILD_DIR]
#
# RUNS is a number of executions (1000000), SECONDSs a duration (600s). BUILD_DIR holds the
# binary, the corpus and any crash input; it defaults to $VARNEL_FUZZ_BUILD_DIR, then to
# ${TMPDIR:-/tmp}/varnel-link-fuzz. FUZZ_JOBS=N runs N fuzzing processes side by side (the runs
# are shared out among them); FUZZ_CXX names the compiler (clang++).
set -eu

usage() {
    echo "usage: $0 RUNS|SECONDSs [BUILD_DIR]" >&2
    exit 2
}
[ $# -ge 1 ] || usage
amount=$1
build=${2:-${VARNEL_FUZZ_BUILD_DIR:-${TMPDIR:-/tmp}/varnel-link-fuzz}}
jobs=${FUZZ_JOBS:-1}
cxx=${FUZZ_CXX:-clang++}
root=$(cd "$(dirname "$0")/../.." && pwd)

case $amount in
    *[!0-9s]* | s* | "") usage ;;
    *s) limit="-max_total_time=${amount%s}" ;;
    *) limit="-runs=$(((amount + jobs - 1) / jobs))" ;;
esac

command -v "$cxx" >/dev/null 2>&1 || {
    echo "$0: $cxx not found (Debian: apt-get install clang libclang-rt-14-dev)" >&2
    exit 1
}

mkdir -p "$build/corpus" "$build/artifacts"
binary=$build/link_fuzzer
inputs="$root/tests/fuzz/link_fuzzer.cpp $root/link/interface_link.cpp $root/link/interface_link.h
$root/link/serial_control.h $root/tests/support/fake_serial_control.cpp
$root/tests/support/fake_serial_control.h $0"
stale=no
[ -x "$binary" ] || stale=yes
for f in $inputs; do
    [ "$f" -nt "$binary" ] && stale=yes
done
if [ $stale = yes ]; then
    flags="-std=c++20 -g -O1 -fno-sanitize-recover=undefined -Wall -Wextra -Wpedantic -I$root"
    # Everything is sanitized, but only the link is instrumented for coverage: the fuzzer steers
    # by the link's branches, and the scripted control, asked on every one of up to 5000 polls
    # a wait, would otherwise spend most of the time in comparison tracing. The uninstrumented
    # objects come first, so their copies of the shared inline code are the ones kept.
    # shellcheck disable=SC2086
    if ! "$cxx" $flags -fsanitize=address,undefined -c "$root/tests/fuzz/link_fuzzer.cpp" \
        -o "$build/link_fuzzer.o" ||
        ! "$cxx" $flags -fsanitize=address,undefined -c "$root/tests/support/fake_serial_control.cpp" \
            -o "$build/fake_serial_control.o" ||
        ! "$cxx" $flags -fsanitize=fuzzer,address,undefined -c "$root/link/interface_link.cpp" \
            -o "$build/interface_link.o" ||
        ! "$cxx" -fsanitize=fuzzer,address,undefined "$build/link_fuzzer.o" \
            "$build/fake_serial_control.o" "$build/interface_link.o" -o "$binary"; then
        echo "$0: build failed (the libFuzzer runtime is in Debian's libclang-rt-14-dev)" >&2
        exit 1
    fi
fi

cd "$build"
rm -f fuzz-*.log
start=$(date +%s.%N)
status=0
if [ "$jobs" -gt 1 ]; then
    "$binary" -jobs="$jobs" -workers="$jobs" "$limit" -max_len=128 \
        -artifact_prefix="$build/artifacts/" "$build/corpus" >/dev/null 2>&1 || status=$?
    cat fuzz-*.log >"$build/last-run.log"
else
    "$binary" "$limit" -max_len=128 -artifact_prefix="$build/artifacts/" \
        "$build/corpus" >"$build/last-run.log" 2>&1 || status=$?
fi
end=$(date +%s.%N)

runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$build/last-run.log" | awk '{n += $1} END {print n + 0}')
awk -v runs="$runs" -v s="$start" -v e="$end" -v jobs="$jobs" 'BEGIN {
    t = e - s
    printf "link_fuzzer: %d executions in %.1f s (%.0f exec/s, %d process(es))\n", runs, t, runs / t, jobs
}'
if [ $status -ne 0 ] || grep -q "ERROR: libFuzzer\|SUMMARY: \|invariant violated" "$build/last-run.log"; then
    grep -A30 "invariant violated\|ERROR: \|SUMMARY: " "$build/last-run.log" | head -60 >&2
    echo "link_fuzzer: FINDING; the input is in $build/artifacts/, the log in $build/last-run.log" >&2
    exit 1
fi
echo "link_fuzzer: no finding"
