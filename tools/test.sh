#!/usr/bin/env bash
# Builds Quillmere and runs every test: the normal build, then the same tests
# built with AddressSanitizer and UndefinedBehaviorSanitizer, then a short
# fuzzing run of the Access decoders and the SQL layer, then the Debian
# package is built and checked.  Usage: tools/test.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"

jobs=$(nproc)
# A compiler cache, where there is one, makes the second build of unchanged
# sources nearly free (the sanitizer build shares nothing with the first).
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1

echo "== build and test"
cmake -S "$root" -B "$root/build/test" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$root/build/test" -j "$jobs"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
ctest --test-dir "$root/build/test" -j "$jobs" --timeout 900 | tee "$log"

echo "== sanitizer build and test"
cmake -S "$root" -B "$root/build/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DQM_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$root/build/asan" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions="$root/tools/lsan.supp":print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build/asan" -j "$jobs" --timeout 1800 | tee -a "$log"

if [[ -x "$root/fuzz/run-short.sh" ]]; then
  echo "== short fuzzing run"
  "$root/fuzz/run-short.sh"
fi

echo "== Debian package"
package_failed=0
pkglog=$(mktemp)
if "$root/tools/package.sh" 2>&1 | tee "$pkglog"; then
  "$root/tools/check-package.sh" "$(tail -1 "$pkglog")" | tee -a "$log" || package_failed=1
else
  echo "package checks: 0 passed, 1 failed (tools/package.sh failed)" | tee -a "$log"
  package_failed=1
fi
rm -f "$pkglog"

# One closing line for all runs together.
awk '/tests passed, [0-9]+ tests failed out of/ { total += $NF; failed += $4 }
     /^package checks: [0-9]+ passed, [0-9]+ failed/ { total += $3 + $5; failed += $5 }
     END { printf "%d passed, %d failed\n", total - failed, failed }' "$log"
exit "$package_failed"
