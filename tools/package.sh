#!/usr/bin/env bash
# Builds the Debian package quillmere_<version>_amd64.deb from a Release
# build of the two programs and what the package holds besides them.
# Usage: tools/package.sh [build folder]   (default build/package)
# Prints the path of the package as its last line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/package}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
for tool in dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "package.sh: $tool is missing (tools/install-deps.sh installs it)" >&2; exit 1; }
done

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
# Only what the package holds: not the tests.
cmake --build "$build" -j "$(nproc)" --target quillmere quillmere-cli qm_package_files
rm -f "$build"/package/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/package/quillmere_*_amd64.deb)
echo "$deb"
