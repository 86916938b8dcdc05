#!/usr/bin/env bash
# Builds nodrix and runs every test: once in a normal build, once with
# AddressSanitizer and UndefinedBehaviorSanitizer; then the multi-threaded
# decoding under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh --test
jobs=$(nproc)
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build && ctest --output-on-failure -j "$jobs")

build build-asan -DCMAKE_BUILD_TYPE=Debug -DNODRIX_SANITIZE=ON
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$jobs")

# Decoding on several threads, under ThreadSanitizer: the program only.
cmake -S . -B build-tsan -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNODRIX_TSAN=ON \
  -DNODRIX_TESTS=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target nodrix
scripts/check_jobs.sh build-tsan/nodrix

if command -v clang++ >/dev/null 2>&1 && [ -x fuzz/run.sh ]; then
  fuzz/run.sh 10
fi
