#!/usr/bin/env bash
# Fuzzing with libFuzzer (clang-14, AddressSanitizer + UndefinedBehaviorSanitizer, every report
# fatal). Builds build/fuzz, then:
#
#   scripts/fuzz.sh short  [target...]  each target ~45 s from its committed corpus (default)
#   scripts/fuzz.sh long   [target...]  the campaign: 10 million runs of mp4, 100 million of the
#                                       others, one target after the other (days on two cores;
#                                       FUZZ_RUNS=N overrides the count, FUZZ_JOBS=N runs N
#                                       processes per target, each doing the count)
#   scripts/fuzz.sh timed SECONDS [target...]
#                                       every target side by side (at the lowest priority) for
#                                       SECONDS; adds each target's executions to
#                                       build/fuzz/logs/executions.txt, the campaign's running tally
#   scripts/fuzz.sh merge  [target...]  minimises fuzz/corpus/<target> with what the runs found
#   scripts/fuzz.sh replay [target...]  runs the committed corpora and reproducers once
#
# Targets: frames mp4 yuv api (fuzz/<target>_fuzzer.cpp says what each drives). Runs grow a
# working corpus in build/fuzz/corpus/<target>; a finding is written to
# build/fuzz/findings/<target>/ and fails the script: keep it in fuzz/repro/<target>/, fix the
# library, and the replay test (ctest fuzz_replay_<target>, natively and under Wine) keeps it
# passing from then on. Logs: build/fuzz/logs/<target>.log.
set -uo pipefail
cd "$(dirname "$0")/.."
mode=${1:-short}
shift || true
seconds=0
if [ "$mode" = timed ]; then
  seconds=${1:?usage: $0 timed SECONDS [target...]}
  shift
fi
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(frames mp4 yuv api)
build=build/fuzz

max_len() {
  case $1 in
    mp4) echo 200000 ;;
    frames) echo 32768 ;;
    yuv) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

echo "== build ($build, clang-14, -DZORV_FUZZ=ON)"
if [ ! -f $build/build.ninja ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B $build -G Ninja -DZORV_FUZZ=ON -DZORV_TESTS=OFF -DZORV_BENCH=OFF \
    -DZORV_TOOLS=OFF -DCMAKE_BUILD_TYPE=None -DCMAKE_C_FLAGS="-O1 -gline-tables-only" \
    -DCMAKE_CXX_FLAGS="-O1 -gline-tables-only" >/dev/null || exit 1
fi
cmake --build $build -j "$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}") || exit 1

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
# Snapshots go through temporary files: keep them in memory where the machine allows.
[ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
mkdir -p $build/logs
status=0
if [ "$mode" = timed ]; then
  for t in "${targets[@]}"; do
    mkdir -p "$build/corpus/$t" "$build/findings/$t"
    echo "== $t: $seconds s"
    nice -n 19 $build/fuzz/fuzz_$t -max_len="$(max_len "$t")" -rss_limit_mb=4096 -timeout=60 \
      -artifact_prefix="$build/findings/$t/" -print_final_stats=1 -max_total_time="$seconds" \
      "$build/corpus/$t" fuzz/corpus/$t >$build/logs/$t.log 2>&1 &
  done
  wait
fi
for t in "${targets[@]}"; do
  work=$build/corpus/$t
  findings=$build/findings/$t
  mkdir -p "$work" "$findings"
  common=(-max_len="$(max_len "$t")" -rss_limit_mb=4096 -timeout=60 -artifact_prefix="$findings/"
          -print_final_stats=1)
  case $mode in
    short)
      echo "== $t: 45 s"
      $build/fuzz/fuzz_$t "${common[@]}" -max_total_time=45 "$work" fuzz/corpus/$t >$build/logs/$t.log 2>&1
      ;;
    timed)
      runs=$(grep -h '^stat::number_of_executed_units' $build/logs/$t.log | awk '{print $2}')
      echo "$(date -u +%FT%TZ) $t ${runs:-0} executions in $seconds s" >>$build/logs/executions.txt
      ! grep -q -E '^(==[0-9]+==ERROR|SUMMARY: |==[0-9]+== ERROR: libFuzzer)|deadly signal' $build/logs/$t.log
      ;;
    long)
      runs=${FUZZ_RUNS:-$([ "$t" = mp4 ] && echo 10000000 || echo 100000000)}
      echo "== $t: $runs runs x ${FUZZ_JOBS:-1} process(es)"
      if [ "${FUZZ_JOBS:-1}" -gt 1 ]; then
        $build/fuzz/fuzz_$t "${common[@]}" -runs="$runs" -jobs="$FUZZ_JOBS" -workers="$FUZZ_JOBS" "$work" fuzz/corpus/$t \
          >$build/logs/$t.log 2>&1
      else
        $build/fuzz/fuzz_$t "${common[@]}" -runs="$runs" "$work" fuzz/corpus/$t >$build/logs/$t.log 2>&1
      fi
      ;;
    merge)
      echo "== $t: minimising fuzz/corpus/$t"
      rm -rf "$build/merged/$t" && mkdir -p "$build/merged/$t"
      $build/fuzz/fuzz_$t "${common[@]}" -merge=1 "$build/merged/$t" fuzz/corpus/$t "$work" >$build/logs/$t.merge.log 2>&1 &&
        rm -f fuzz/corpus/$t/* && cp "$build/merged/$t"/* fuzz/corpus/$t/
      ;;
    replay)
      echo "== $t: replay"
      $build/fuzz/fuzz_$t "${common[@]}" -runs=0 fuzz/corpus/$t >$build/logs/$t.log 2>&1 &&
        for f in fuzz/repro/$t/*; do
          [ -f "$f" ] || continue
          $build/fuzz/fuzz_$t "${common[@]}" "$f" >>$build/logs/$t.log 2>&1 || exit 1
        done
      ;;
    *)
      echo "usage: $0 [short|long|timed SECONDS|merge|replay] [target...]" >&2
      exit 2
      ;;
  esac
  rc=$?
  grep -h -E '^(#[0-9]+ *DONE|stat::number_of_executed_units|SUMMARY)' $build/logs/$t.log 2>/dev/null | tail -3
  # libFuzzer also keeps inputs that took over 10 s (slow-unit-*): on a busy machine a process at
  # the lowest priority can wait that long for the processor, so they are listed, not failures
  # (a run that hangs is cut by -timeout and kept as timeout-*, which is one).
  slow=$(find "$findings" -name 'slow-unit-*' 2>/dev/null | wc -l)
  [ "$slow" -gt 0 ] && echo "   $t: $slow slow unit(s) kept in $findings; replay them to see their time"
  if [ $rc -ne 0 ] || [ -n "$(find "$findings" -type f ! -name 'slow-unit-*' 2>/dev/null)" ]; then
    echo "!! $t: finding(s) in $findings (log $build/logs/$t.log)"
    status=1
  fi
done
exit $status
