#!/usr/bin/env bash
# Runs every fuzz target (or the TARGETs named) for SECONDS each (default
# 60): fuzz/run.sh [SECONDS [TARGET...]]. The targets are built in
# build-fuzz with Clang first. New inputs go to build-fuzz/corpus, so the
# committed seed corpus under fuzz/corpus stays as it is; a crashing input
# is kept in build-fuzz/artifacts and the script exits non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
targets=(link_frame pcap_file trace_file command_line structured_output where_expression nesting reassembly ber_message hpack)
if [ $# -gt 1 ]; then targets=("${@:2}"); fi
build=build-fuzz

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja "${launcher[@]}" -DNODRIX_FUZZ=ON -DNODRIX_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/%/_fuzzer}"

mkdir -p "$build/artifacts"
status=0
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  mkdir -p "$work"
  echo "fuzzing $target for ${seconds}s"
  # Standard output and error of the target go nowhere; libFuzzer keeps
  # its own report on standard error.
  if ! UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 "$build/fuzz/${target}_fuzzer" \
      -max_total_time="$seconds" -timeout=10 -close_fd_mask=3 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" "$work" "fuzz/corpus/$target" \
      >"$build/artifacts/$target.log" 2>&1; then
    echo "fuzz target $target failed; see $build/artifacts/$target.log" >&2
    tail -40 "$build/artifacts/$target.log" >&2
    status=1
  fi
  grep -E '^stat::number_of_executed_units' "$build/artifacts/$target.log" || true
done
exit $status
