#!/usr/bin/env bash
# Installs what is missing, builds and runs every test headless.
# With --sanitize the suite is built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh "$@"
dir=build
if [[ "${1:-}" == "--sanitize" ]]; then dir=build-sanitize; fi
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
