#!/usr/bin/env bash
# Builds the libFuzzer targets of the parsers with clang and runs each for a
# bounded time from its seed corpus. Usage: tests/fuzz/run.sh [seconds per target, default 20]
# The build goes to build-fuzz/ beside the sources unless VQ_FUZZ_BUILD names another.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-20}
build=${VQ_FUZZ_BUILD:-$root/build-fuzz}

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
targets="key_value_fuzzer conn_string_fuzzer ini_fuzzer version_block_fuzzer
  resource_file_fuzzer cvf_fuzzer date_parse_fuzzer broadcast_packet_fuzzer
  cmdseq_items_fuzzer"
# shellcheck disable=SC2086
ninja -C "$build" -j3 $targets

status=0
for target in $targets; do
  seeds="$here/corpus/${target%_fuzzer}"
  work=$(mktemp -d)
  echo "== $target: ${seconds}s"
  # New inputs go to a scratch corpus; the seeds in the tree are only read.
  if ! "$build/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
       -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/$target-" \
       "$work" "$seeds" 2>"$build/$target.log"; then
    echo "$target found a failure; the log is $build/$target.log"
    tail -n 40 "$build/$target.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done' "$build/$target.log" | tail -n 2
  fi
  rm -rf "$work"
done
exit $status
