#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice: a normal build and
# one with AddressSanitizer and UndefinedBehaviorSanitizer. Fails when any test fails.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-deps.sh"

# The compiler cache lives outside the work tree so that fresh clones reuse it.
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
jobs=$(nproc)

run_suite() {
    local name=$1 dir=$2
    shift 2
    echo "=== ${name}: configure and build in ${dir}"
    cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    echo "=== ${name}: tests"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite "plain build" "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_suite "sanitizer build" "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug \
    -DTIDEWELL_SANITIZE=ON -DTIDEWELL_BUILD_BENCHMARKS=OFF
