#!/usr/bin/env bash
# Replays each fuzz target's seed corpus, then runs RUNS new inputs per target, each bounded
# in time and memory. Usage: run.sh FUZZ_BIN_DIR [RUNS]
set -euo pipefail
bin=$1
runs=${2:-2000}
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in xls xlsx ods worksheet connection journal; do
  mkdir -p "$scratch/$target"
  echo "# fuzz_$target: corpus replayed, then $runs new inputs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0:malloc_context_size=30 LSAN_OPTIONS=suppressions="$here/lsan.supp" "$bin/fuzz_$target" -runs="$runs" -max_total_time=30 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "$scratch/$target" "$here/corpus/$target" 2>"$scratch/$target.log" || {
    tail -n 40 "$scratch/$target.log"
    exit 1
  }
  grep -E 'stat::number_of_executed_units|cov:' "$scratch/$target.log" | tail -n 2
done
