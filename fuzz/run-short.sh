#!/bin/sh
# Builds the fuzz harnesses with clang in their own build folder and runs
# each for a short while on seeds made from the shared fixtures (the SQL
# harness: on statements our own code writes and the fixtures' saved
# queries and views).  QM_SHARED_DIR names the shared folder (default: the
# folder 'shared' beside the repository).
# Exits 0 when nothing is found; non-zero (libFuzzer's code) on a finding.
#
# By default the run is a fixed number of inputs from a fixed random seed,
# so the same tree always explores the same inputs (CI stays repeatable);
# QM_FUZZ_SECONDS=N runs for N seconds with a fresh seed instead.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
shared="${QM_SHARED_DIR:-$root/../shared}"
build="${QM_FUZZ_BUILD:-$root/build/fuzz}"
seconds="${QM_FUZZ_SECONDS:-}"

if [ ! -d "$shared/fixtures/access" ]; then
    echo "fuzz: the shared fixtures folder ($shared) is not present here; skipping"
    exit 0
fi
if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz: clang++ is not installed; skipping"
    exit 0
fi

generator=""
if command -v ninja >/dev/null 2>&1; then generator="-G Ninja"; fi
# shellcheck disable=SC2086
cmake -S "$here" -B "$build" $generator -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
cmake --build "$build" --target fuzz_jet_file fuzz_jet_row fuzz_jet_complex fuzz_jet_crypto fuzz_sql make_sql_seeds -j 2 >/dev/null

# Seeds: the small fixtures as whole files; for rows, slices of them.
corpus="$build/corpus"
rm -rf "$corpus"
mkdir -p "$corpus/file" "$corpus/row" "$corpus/complex" "$corpus/crypto" "$corpus/sql"
find "$shared/fixtures/access" -type f \( -name '*.mdb' -o -name '*.accdb' \) -size -160k | while read -r f; do
    cp "$f" "$corpus/file/$(basename "$f")"
done
for f in "$corpus"/file/*; do
    name=$(basename "$f")
    # A few row-sized pieces from the end of each data-ish page region.
    dd if="$f" of="$corpus/row/$name.a" bs=1 skip=$((4096 * 5 - 300)) count=300 2>/dev/null || true
    dd if="$f" of="$corpus/row/$name.b" bs=1 skip=$((2048 * 5 - 120)) count=120 2>/dev/null || true
done
# The EncryptionInfo blocks of the encrypted .accdb files (u16 length at 0x299).
find "$shared/fixtures/access" -type f -name '*.accdb' | while read -r f; do
    n=$(od -An -tu2 -j665 -N2 "$f" | tr -d ' ')
    if [ "$n" -gt 0 ] && [ "$n" -lt 3000 ]; then
        dd if="$f" of="$corpus/crypto/$(basename "$f")" bs=1 skip=667 count="$n" 2>/dev/null || true
    fi
done

# Complex columns: the files that have them (mark byte 1), and attachment
# data as Access stores it (mark byte 0: flag, length, zlib stream, content).
for f in jackcess/V2007/complexDataTestV2007.accdb mdb-reader/data/V2016/attachments.accdb; do
    { printf '\001'; cat "$shared/fixtures/access/$f"; } >"$corpus/complex/$(basename "$f")"
done
/usr/bin/python3 - "$corpus/complex" <<'PY'
import struct, sys, zlib
content = struct.pack("<II", 12, 1) + "txt\0".encode("utf-16-le")[:4] + b"the attached file\n" * 4
for name, flag, body in (("plain", 0, content), ("packed", 1, zlib.compress(content))):
    with open(f"{sys.argv[1]}/{name}", "wb") as out:
        out.write(b"\0" + struct.pack("<II", flag, len(content)) + body)
PY

# SQL scripts: the first byte names the dialect ('A' or 'F').
rm -rf "$build/sql-seeds"
"$build/make_sql_seeds" "$build/sql-seeds" "$shared" >/dev/null

if [ -n "$seconds" ]; then
    file_limit="-max_total_time=$((seconds * 2 / 3))"
    row_limit="-max_total_time=$((seconds - seconds * 2 / 3))"
    complex_limit="-max_total_time=$((seconds / 3 + 1))"
    crypto_limit="-max_total_time=$((seconds / 6 + 1))"
    sql_limit="-max_total_time=$((seconds / 2 + 1))"
    echo "fuzz: ${seconds}s in all"
else
    file_limit="-runs=${QM_FUZZ_FILE_RUNS:-200000} -seed=20161103"
    row_limit="-runs=${QM_FUZZ_ROW_RUNS:-600000} -seed=20161103"
    complex_limit="-runs=${QM_FUZZ_COMPLEX_RUNS:-3000} -seed=20161103"
    crypto_limit="-runs=${QM_FUZZ_CRYPTO_RUNS:-100000} -seed=20161103"
    sql_limit="-runs=${QM_FUZZ_SQL_RUNS:-6000} -seed=20161103"
    echo "fuzz: fixed seed, $file_limit / $row_limit"
fi
echo "fuzz: whole files"
# shellcheck disable=SC2086
"$build/fuzz_jet_file" $file_limit -max_len=262144 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "$corpus/file" 2>"$build/fuzz_jet_file.log" || { tail -50 "$build/fuzz_jet_file.log"; exit 1; }
echo "fuzz: single rows"
# shellcheck disable=SC2086
"$build/fuzz_jet_row" $row_limit -max_len=4096 -timeout=10 \
    -print_final_stats=1 "$corpus/row" 2>"$build/fuzz_jet_row.log" || { tail -50 "$build/fuzz_jet_row.log"; exit 1; }
echo "fuzz: complex columns"
# shellcheck disable=SC2086
"$build/fuzz_jet_complex" $complex_limit -max_len=655360 -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 "$corpus/complex" 2>"$build/fuzz_jet_complex.log" || { tail -50 "$build/fuzz_jet_complex.log"; exit 1; }
echo "fuzz: encryption headers"
# shellcheck disable=SC2086
"$build/fuzz_jet_crypto" $crypto_limit -max_len=4096 -timeout=10 \
    -print_final_stats=1 "$corpus/crypto" 2>"$build/fuzz_jet_crypto.log" || { tail -50 "$build/fuzz_jet_crypto.log"; exit 1; }
echo "fuzz: SQL scripts"
# The harness stops a legitimate but endless statement itself; -timeout and
# -rss_limit_mb are the outer guard.
# shellcheck disable=SC2086
"$build/fuzz_sql" $sql_limit -max_len=4096 -timeout=20 -rss_limit_mb=2048 -dict="$here/sql.dict" \
    -print_final_stats=1 "$corpus/sql" "$build/sql-seeds" 2>"$build/fuzz_sql.log" || { tail -50 "$build/fuzz_sql.log"; exit 1; }
grep -h 'stat::number_of_executed_units' "$build"/fuzz_jet_*.log "$build/fuzz_sql.log" || true
echo "fuzz: no crash found"
