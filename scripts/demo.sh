#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated modem on two pseudo-terminals
# and the program pointed at them, so it can be tried without a modem.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh

paths_file=$(mktemp)
build/tools/modem-sim/modem-sim --ports 2 --csq-pattern --quiet >"$paths_file" &
sim=$!
trap 'kill "$sim" 2>/dev/null; rm -f "$paths_file"' EXIT

# The simulated modem prints one "port N: PATH" line per pseudo-terminal once they are ready.
for _ in $(seq 50); do
  [[ $(grep -c '^port ' "$paths_file") -ge 2 ]] && break
  sleep 0.1
done
ports=$(sed -n 's/^port [0-9]*: //p' "$paths_file" | paste -sd: -)
if [[ -z "$ports" ]]; then
  echo "The simulated modem did not start." >&2
  exit 1
fi
echo "Simulated modems on $ports"
QUELVANE_PORTS="$ports" build/ui/shell/quelvane
