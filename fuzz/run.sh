#!/usr/bin/env bash
# Runs every fuzz target for FUZZ_SECONDS over its seed corpus (fuzz/corpus/<target>), each
# growing a working corpus of its own under the build folder. A finding fails the run and
# says where the reproducer is.
#   fuzz/run.sh BUILD_FOLDER [target ...]
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
seconds=${FUZZ_SECONDS:-60}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$here"/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

failed=0
for t in "${targets[@]}"; do
  bin="$build/fuzz/$t"
  work="$build/fuzz-work/$t"
  mkdir -p "$work/corpus" "$work/findings"
  echo "fuzz: $t for ${seconds}s"
  # LeakSanitizer stays on: a leak per input is a finding too.
  if ! (cd "$work" && ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 QT_QPA_PLATFORM=offscreen \
        "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
               -artifact_prefix="$work/findings/" "$work/corpus" "$here/corpus/$t" \
               >"$work/log.txt" 2>&1); then
    failed=1
    echo "fuzz: $t FOUND A FAULT; log: $work/log.txt"
    grep -E 'ERROR|runtime error|SUMMARY' "$work/log.txt" | head -5
    for r in "$work"/findings/*; do [ -e "$r" ] && echo "fuzz: reproducer: $r"; done
    echo "fuzz: rerun with: $bin $work/findings/<file>"
  else
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$work/log.txt" |
      sed "s/^/fuzz: $t /"
  fi
done
exit $failed
