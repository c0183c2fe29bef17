#!/usr/bin/env bash
# Installs what is missing, builds and starts Brindlemark: ./run.sh [DIR]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh"
exec "$root/build/bin/Brindlemark" "$@"
