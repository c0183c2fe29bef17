#!/usr/bin/env bash
# Installs what is missing, builds the programs and starts Brindlemark: ./run.sh [DIR|IMAGE]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/deps.sh"
# Only what it starts: the tests and benchmarks are ./test.sh's to build.
"$root/scripts/build.sh" Brindlemark Brindlehost brindlemark-cli
exec "$root/build/bin/Brindlemark" "$@"
