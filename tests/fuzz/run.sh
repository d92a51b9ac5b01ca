#!/usr/bin/env bash
# Builds the libFuzzer targets of the parsers with clang and runs each for a
# bounded time from its seed corpus. Usage: tests/fuzz/run.sh [seconds per target, default 20]
# The build goes to build-fuzz/ beside the sources unless VQ_FUZZ_BUILD names another.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-20}
build=${VQ_FUZZ_BUILD:-$root/build-fuzz}

# Objects come from ccache, as in scripts/test.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  "${launcher[@]}" >/dev/null
targets="key_value_fuzzer conn_string_fuzzer ini_fuzzer version_block_fuzzer
  resource_file_fuzzer cvf_fuzzer date_parse_fuzzer broadcast_packet_fuzzer
  cmdseq_items_fuzzer
  packet_reassembly_fuzzer
  pres_items_fuzzer
  stream_inflate_fuzzer
  escape_translate_fuzzer
"
# shellcheck disable=SC2086
ninja -C "$build" -j "$(nproc)" $targets

# Input length per target: the default suits short texts. Where the interesting inputs
# are long (resource files beyond 4,096 bytes, version blocks across the reader's
# 4,096-byte chunks) length control is turned off, so long inputs are tried from the start
# instead of after the short ones. A new target needs a line here only if it differs.
fuzz_options() {
  case "$1" in
    resource_file_fuzzer) echo "-max_len=65536 -len_control=0" ;;
    version_block_fuzzer) echo "-max_len=16384 -len_control=0" ;;
    cvf_fuzzer) echo "-max_len=16384" ;;
    *) echo "-max_len=4096" ;;
  esac
}

status=0
for target in $targets; do
  seeds="$here/corpus/${target%_fuzzer}"
  work=$(mktemp -d)
  echo "== $target: ${seconds}s"
  # New inputs go to a scratch corpus; the seeds in the tree are only read.
  # shellcheck disable=SC2046
  if ! "$build/$target" -max_total_time="$seconds" $(fuzz_options "$target") -timeout=10 \
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
