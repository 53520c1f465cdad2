#!/usr/bin/env bash
# Runs each fuzz target for a bounded time from its checked-in seeds.
# Usage: fuzz/run.sh BUILD_DIR SECONDS
# New inputs go to BUILD_DIR/fuzz-corpus; a crash leaves its input in BUILD_DIR/fuzz-crashes
# and makes this script fail.
set -euo pipefail
build="$1"
seconds="${2:-60}"
here="$(cd "$(dirname "$0")" && pwd)"
status=0
for target in reply_receiver settings_file image_check; do
  work="$build/fuzz-corpus/$target"
  crashes="$build/fuzz-crashes/$target"
  mkdir -p "$work" "$crashes"
  log="$build/fuzz-$target.log"
  echo "== fuzz_$target for ${seconds}s"
  if "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix="$crashes/" -timeout=10 -rss_limit_mb=1024 \
       "$work" "$here/corpus/$target" >"$log" 2>&1; then
    grep -E '^#[0-9]+.*(DONE|INITED)' "$log" | tail -1 || true
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$log" || true
  else
    status=1
    echo "fuzz_$target FAILED; the input is in $crashes, the log in $log"
    tail -40 "$log"
  fi
done
exit $status
