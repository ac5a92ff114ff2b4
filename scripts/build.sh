#!/usr/bin/env bash
# Configures and builds into build/ (or build-sanitize/ with --sanitize).
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
flags=()
if [[ "${1:-}" == "--sanitize" ]]; then
  dir=build-sanitize
  flags=(-DQUELVANE_SANITIZE=ON -DQUELVANE_BENCHMARKS=OFF)
fi
if [[ ! -f "$dir/build.ninja" ]]; then
  cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
fi
cmake --build "$dir"
