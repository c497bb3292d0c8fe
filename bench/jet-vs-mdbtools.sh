#!/bin/sh
# Side by side in one run: every row of the same table of the same file read
# by mdbtools' mdb-export and by the engine (bench/jet_bench --export, which
# writes the same kind of text), each as N separate processes, output thrown
# away; then the engine's in-process figures.  Prints rows/s, MB/s and the
# ratio.
#
#   bench/jet-vs-mdbtools.sh [BUILD_DIR] [FILE] [TABLE] [N]
# Defaults: build/test (the test build, which has the benchmarks), the largest Access fixture (nwind.mdb), its largest
# table (Order Details), 50 runs.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build="${1:-$root/build/test}"
file="${2:-$root/../shared/fixtures/access/mdbtestdata/nwind.mdb}"
table="${3:-Order Details}"
runs="${4:-50}"

bench="$build/bench/jet_bench"
[ -x "$bench" ] || bench="$build/jet_bench"
if [ ! -x "$bench" ]; then echo "jet_bench not found under $build (build the target jet_bench)"; exit 1; fi
if [ ! -f "$file" ]; then echo "skipping: $file is not present here"; exit 0; fi
if ! command -v mdb-export >/dev/null 2>&1; then echo "skipping: mdb-export is not installed"; exit 0; fi

rows=$(mdb-export -H "$file" "$table" | wc -l)
bytes_theirs=$(mdb-export -H "$file" "$table" | wc -c)
bytes_ours=$("$bench" --export "$file" "$table" | wc -c)

# CPU seconds (user + system) that `runs` runs of a command use, from the
# shell's accounting of its children; wall time on a shared machine says
# more about the neighbours than about the program.
cpu_of() {
    (
        i=0
        while [ "$i" -lt "$runs" ]; do "$@" >/dev/null; i=$((i + 1)); done
        times
    ) | tail -1 | sed 's/m/ /g; s/s//g' | awk '{ print $1 * 60 + $2 + $3 * 60 + $4 }'
}

mdb-export "$file" "$table" >/dev/null # warm the page cache
t_theirs=$(cpu_of mdb-export "$file" "$table")
t_ours=$(cpu_of "$bench" --export "$file" "$table")
# Starting each program without reading anything: mdb-export --version loads
# the same libraries as an export, jet_bench --start-only likewise.
b_theirs=$(cpu_of mdb-export --version)
b_ours=$(cpu_of "$bench" --start-only)

echo "file $(basename "$file"), table $table: $rows rows, $runs runs each, CPU time per run"
printf 'mdb-export : %8.5f s, %10.0f rows/s, %7.2f MB/s\n' \
    "$(echo "$t_theirs / $runs" | bc -l)" "$(echo "$rows * $runs / $t_theirs" | bc -l)" \
    "$(echo "$bytes_theirs * $runs / $t_theirs / 1000000" | bc -l)"
printf 'engine     : %8.5f s, %10.0f rows/s, %7.2f MB/s\n' \
    "$(echo "$t_ours / $runs" | bc -l)" "$(echo "$rows * $runs / $t_ours" | bc -l)" \
    "$(echo "$bytes_ours * $runs / $t_ours / 1000000" | bc -l)"
printf 'ratio      : engine is %.2f times as fast as mdb-export (whole processes, start-up included)\n' \
    "$(echo "$t_theirs / $t_ours" | bc -l)"
printf 'start-up   : mdb-export %.5f s, engine %.5f s per run\n' \
    "$(echo "$b_theirs / $runs" | bc -l)" "$(echo "$b_ours / $runs" | bc -l)"
net_theirs=$(echo "$t_theirs - $b_theirs" | bc -l)
net_ours=$(echo "$t_ours - $b_ours" | bc -l)
if [ "$(echo "$net_ours > 0" | bc -l)" = 1 ]; then
    printf 'ratio      : engine is %.2f times as fast as mdb-export (reading only, start-up subtracted)\n' \
        "$(echo "$net_theirs / $net_ours" | bc -l)"
fi
echo "in-process figures:"
"$bench" "$file" "$table" 20
