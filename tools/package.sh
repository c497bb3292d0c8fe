#!/usr/bin/env bash
# Builds the Debian package quillmere_<version>_amd64.deb from a Release
# build of the two programs and what the package holds besides them
# (installs what is missing with apt-get first, as tools/run.sh does).
# Usage: tools/package.sh [build folder]   (default build/package)
# Prints the path of the package as its last line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/package}
"$root/tools/install-deps.sh" >&2
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Hardened as Debian builds its packages: checked buffer functions, stack
# protector, read-only relocations bound at start-up.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_BENCH=OFF "${launcher[@]}" \
  -DCMAKE_C_FLAGS="-D_FORTIFY_SOURCE=2 -fstack-protector-strong" \
  -DCMAKE_CXX_FLAGS="-D_FORTIFY_SOURCE=2 -fstack-protector-strong" \
  -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" >/dev/null
# Only what the package holds: not the tests.
cmake --build "$build" -j "$(nproc)" --target quillmere quillmere-cli qm_package_files >&2
rm -f "$build"/quillmere_*_amd64.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/quillmere_*_amd64.deb)
echo "$deb"
