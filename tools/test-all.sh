#!/usr/bin/env bash
# tools/test-all.sh [preset...]
# Installs the build dependencies, then configures, builds and tests the
# presets named (all of them by default: headless, gtk, win32, asan, tsan and
# fuzz) in turn. A failing preset does not stop the others; the run ends with ctest's summaries, the line
# "N passed, N failed" (totals over all presets) and a non-zero status when
# anything failed.
#
# A preset that does not configure or build, or whose ctest reports no
# summary, counts as one failure.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
# asan: the headless build and its tests under AddressSanitizer and UBSan;
# tsan: the headless build's download tests under ThreadSanitizer;
# fuzz: a short run of each fuzz target over its committed corpus.
all_presets=(headless gtk win32 asan tsan fuzz)
if [ $# -eq 0 ]; then
    presets=("${all_presets[@]}")
else
    presets=("$@")
    for p in "${presets[@]}"; do
        if [[ " ${all_presets[*]} " != *" $p "* ]]; then
            echo "test-all: no preset '$p' (the presets: ${all_presets[*]})" >&2
            exit 2
        fi
    done
fi
logs=$root/build/test-all
mkdir -p "$logs"

now_us() { echo "${EPOCHREALTIME/[.,]/}"; }
seconds_since() {
    local us=$(($(now_us) - $1))
    printf '%d.%d' $((us / 1000000)) $((us / 100000 % 10))
}

# Runs one step with its output going to a log file, shown live by tail.
# Never through a pipe: a test's wineserver inherits the test's output and
# would keep a pipe open, so the reader would wait for it for ever.
child=""
trap '[ -n "$child" ] && kill "$child" 2>/dev/null; exit 130' INT TERM
step() {
    local name=$1 log=$2
    shift 2
    local t0 rc
    t0=$(now_us)
    echo "==> $name: $*"
    "$@" >"$log" 2>&1 </dev/null &
    child=$!
    tail -n +1 -s 0.2 -f --pid="$child" "$log"
    wait "$child"
    rc=$?
    child=""
    echo "<== $name: exit $rc, $(seconds_since "$t0") s"
    return $rc
}

run_t0=$(now_us)
step "setup" "$logs/setup.log" bash tools/setup-debian.sh || {
    echo "test-all: setting up the build dependencies failed (see $logs/setup.log)"
    echo "0 passed, 1 failed"
    exit 1
}

passed=0
failed=0
summaries=()
for p in "${presets[@]}"; do
    # Each preset's build rules live in cmake/<preset>.cmake (asan and tsan
    # build the headless ones); say so plainly when one is not in this
    # checkout rather than showing a cmake trace.
    rules=cmake/$p.cmake
    [ "$p" = asan ] || [ "$p" = tsan ] && rules=cmake/headless.cmake
    if [ ! -f "$rules" ]; then
        echo "test-all: preset $p: $rules is missing; cannot build it"
        summaries+=("$p: FAILED, $rules is missing")
        failed=$((failed + 1))
        continue
    fi
    if ! step "$p configure" "$logs/$p-configure.log" cmake --preset "$p"; then
        summaries+=("$p: FAILED to configure (see $logs/$p-configure.log)")
        failed=$((failed + 1))
        continue
    fi
    if ! step "$p build" "$logs/$p-build.log" cmake --build --preset "$p"; then
        summaries+=("$p: FAILED to build (see $logs/$p-build.log)")
        failed=$((failed + 1))
        continue
    fi
    step "$p test" "$logs/$p-test.log" ctest --preset "$p"
    rc=$?
    # "100% tests passed, 0 tests failed out of 12"
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$logs/$p-test.log" | tail -n 1)
    if [ -z "$line" ]; then
        summaries+=("$p: FAILED, ctest exited $rc without a summary (see $logs/$p-test.log)")
        failed=$((failed + 1))
        continue
    fi
    nfail=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + total - nfail))
    failed=$((failed + nfail))
    # ctest's own summary: the count line, the list of failed tests, the time.
    summary="$p: $line"
    more=$(sed -n '/^The following tests FAILED:/,/^Errors while running CTest/p;/^Total Test time/p' \
        "$logs/$p-test.log")
    [ -n "$more" ] && summary+=$'\n'"$more"
    if [ "$rc" -ne 0 ] && [ "$nfail" -eq 0 ]; then
        # ctest failed although no test did (for example a fixture): count it.
        summary+=$'\n'"ctest exited $rc"
        failed=$((failed + 1))
    fi
    summaries+=("$summary")
done

echo
echo "==== summary ($(seconds_since "$run_t0") s in all) ===="
for s in "${summaries[@]}"; do
    echo "$s"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
