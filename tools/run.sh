#!/usr/bin/env bash
# Builds Quillmere and starts it.  Usage: tools/run.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build/release" --target quillmere
exec "$root/build/release/src/app/quillmere" "$@"
