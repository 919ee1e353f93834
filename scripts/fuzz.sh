#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build/fuzz and runs
# each one for a bounded time.
#
#   scripts/fuzz.sh [--scratch] [SECONDS] [TARGET...]
#   make fuzz                       60 s per target (FUZZ_SECONDS=600 make fuzz for longer)
#
# Targets: parse_exp parse_variable_name format base64 regex_classes (default: all).
# Each run starts from the seed corpus in fuzz/corpus/<target>/, which is only
# read. New inputs go to build/fuzz/corpus/<target>/ and carry over to the next
# run; with --scratch (the test command's quick run) they go to a temporary
# directory instead. A crashing or hanging input is saved under
# build/fuzz/artifacts/<target>/; add it to fuzz/corpus/<target>/ once fixed.
# Exits non-zero when any target found a problem.
set -euo pipefail
cd "$(dirname "$0")/.."

scratch=0
if [ "${1:-}" = "--scratch" ]; then
  scratch=1
  shift
fi
seconds="${1:-${FUZZ_SECONDS:-60}}"
[ $# -gt 0 ] && shift
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: scripts/fuzz.sh [--scratch] [SECONDS] [TARGET...]" >&2
  exit 2
fi
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(parse_exp parse_variable_name format base64 regex_classes)

if [ -z "${VINTREL_SETUP_DONE:-}" ]; then
  source scripts/setup.sh
fi

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ "${CCACHE_LAUNCHER[@]}" \
  -DVINTREL_BUILD_FUZZ=ON -DVINTREL_BUILD_PYTHON=OFF -DVINTREL_BUILD_TESTS=OFF >/dev/null
cmake --build build/fuzz -j2 --target $(printf 'fuzz_%s ' "${targets[@]}")

work=build/fuzz/corpus
if [ $scratch = 1 ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

status=0
for t in "${targets[@]}"; do
  mkdir -p "$work/$t" "build/fuzz/artifacts/$t"
  log="build/fuzz/$t.log"
  # -timeout: one input running this long counts as a hang; -rss_limit_mb
  # as an out-of-memory finding.
  if ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build/fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$t/" "$work/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
    runs=$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | tail -1 | awk '{print $2}')
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | awk '{print $2}')
    echo "fuzz_$t: ok, ${runs:-?} runs in $seconds s, coverage ${cov:-?}"
  else
    status=1
    echo "fuzz_$t: FAILED (log: $log); the finding:"
    grep -E 'ERROR|runtime error|fuzz property broken|Test unit written|SUMMARY' "$log" | head -20 || tail -40 "$log"
  fi
done
exit $status
