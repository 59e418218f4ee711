#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice, as a normal build
# and with AddressSanitizer and UndefinedBehaviorSanitizer, and the tests of the units that
# threads share once more under ThreadSanitizer. Fails when any test fails.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-deps.sh"

# The compiler cache lives outside the work tree so that fresh clones reuse it.
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
# Paths relative to the clone, so a clone in another folder hits the same cache entries.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-suppressions=$root/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1}
jobs=$(nproc)

# run_suite NAME DIR TARGET CTEST-ARGS... -- CMAKE-ARGS...
run_suite() {
    local name=$1 dir=$2 target=$3
    shift 3
    local ctest_args=()
    while [[ $# -gt 0 && $1 != -- ]]; do
        ctest_args+=("$1")
        shift
    done
    shift
    echo "=== ${name}: configure and build in ${dir}"
    cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs" --target "$target"
    echo "=== ${name}: tests"
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" "${ctest_args[@]}"
}

run_suite "plain build" "$root/build/release" all \
    -- -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite "address sanitizer build" "$root/build/asan" all \
    -- -DCMAKE_BUILD_TYPE=Debug -DTIDEWELL_SANITIZE=address -DTIDEWELL_BUILD_BENCHMARKS=OFF
run_suite "thread sanitizer build" "$root/build/tsan" tw_threaded_tests -L threaded \
    -- -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIDEWELL_SANITIZE=thread -DTIDEWELL_BUILD_BENCHMARKS=OFF
