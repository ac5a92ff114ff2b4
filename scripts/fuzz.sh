#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-fuzz/ and runs each one for a bounded number of runs, side by side, from a copy of its
# starting inputs (fuzz/corpus/<target>/ is left as it is).
# Usage: scripts/fuzz.sh [RUNS] [TARGET...]   RUNS defaults to 200000; TARGET is a name from
# fuzz/<name>_fuzz.cpp, all of them by default.
# Exits non-zero on any finding; the input that caused it is kept in build-fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=200000
if [[ $# -gt 0 && "$1" =~ ^[0-9]+$ ]]; then
  runs=$1
  shift
fi
targets=("$@")
if ((${#targets[@]} == 0)); then
  for src in fuzz/*_fuzz.cpp; do
    name=$(basename "$src" .cpp)
    targets+=("${name%_fuzz}")
  done
fi

# The activity log keeps Qt's font and text caches growing from input to input, which makes a
# leak check after every input cost more than the input; its leaks are checked once, at exit.
declare -A extraOptions=([activity_log]=-detect_leaks=0)

dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja \
  -DQUELVANE_FUZZ=ON -DQUELVANE_BENCHMARKS=OFF -DQUELVANE_SANITIZE=ON \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$dir" --target "${targets[@]/%/_fuzz}"

work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

for target in "${targets[@]}"; do
  mkdir -p "$work/$target" "$dir/findings/$target"
  if [[ -d "fuzz/corpus/$target" ]]; then
    cp -r "fuzz/corpus/$target/." "$work/$target/"
  fi
  echo "== $target: $runs runs"
  # shellcheck disable=SC2086
  "$dir/fuzz/${target}_fuzz" -runs="$runs" -max_len=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$dir/findings/$target/" ${extraOptions[$target]:-} "$work/$target" \
    >"$work/$target.log" 2>&1 &
  pids+=($!)
done

failed=()
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  if wait "${pids[$i]}"; then
    echo "== $target: $(grep -E '^Done ' "$work/$target.log" || echo 'done'), no finding"
  else
    tail -n 80 "$work/$target.log"
    echo "== $target: FINDING, the input is kept in $dir/findings/$target/" >&2
    failed+=("$target")
  fi
done

if ((${#failed[@]})); then
  echo "Fuzz findings in: ${failed[*]}" >&2
  exit 1
fi
