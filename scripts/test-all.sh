#!/bin/bash
# Checks the formatting of the sources, then runs every test twice: in the
# normal (Release) build and in the AddressSanitizer +
# UndefinedBehaviorSanitizer build; then fuzzes every parser for a bounded
# time in the clang libFuzzer build. Installs what is missing first. Exits
# non-zero if anything failed in any build; the output ends with CTest's
# summary of the last run.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${XEDA_JOBS:-$(nproc)}

bash "$root/scripts/install-deps.sh" || exit 1

status=0
bash "$root/scripts/check-format.sh" || status=1

run_build() { # name, cmake options...
    local name=$1; shift
    local dir="$root/build/$name"
    echo "===== $name build ====="
    cmake -S "$root" -B "$dir" "$@" >"$dir.configure.log" 2>&1 ||
        { cat "$dir.configure.log"; return 1; }
    cmake --build "$dir" -j"$jobs" || return 1
    echo "===== $name tests ====="
    ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

mkdir -p "$root/build"
run_build normal -DCMAKE_BUILD_TYPE=Release || status=1
run_build sanitize -DCMAKE_BUILD_TYPE=Debug -DXEDA_SANITIZE=ON -DXEDA_BUILD_BENCH=OFF || status=1
# The parsers under libFuzzer, each for a bounded time (tests/fuzz/run.sh).
run_build fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DXEDA_FUZZ=ON -DXEDA_BUILD_BENCH=OFF || status=1
exit $status
