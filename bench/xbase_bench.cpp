// Append and read speed of the xBase table layer.
//
// Generates a Visual FoxPro table of N rows (default 1,000,000) with ten
// mixed fields (C, V, N, I, B, Y, D, T, L, M), appended in one transaction,
// then reads every row back decoding every field.  Prints rows/s, MB/s and
// the peak resident memory after each phase (it must not grow with N).
//
//   xbase_bench [rows] [folder]
#include "dbf_table.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

using qm::Value;
using qm::xbase::DbfTable;
using qm::xbase::FieldSpec;

namespace {

long peakRssKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main(int argc, char** argv)
{
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::filesystem::path folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path() / "qm_xbase_bench";
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "bench.dbf").string();
    std::filesystem::remove(path);
    std::filesystem::remove(folder / "bench.fpt");

    std::vector<FieldSpec> fields{
        {"NAME", 'C', 20}, {"CITY", 'V', 24, 0, true}, {"AMOUNT", 'N', 12, 2}, {"QTY", 'I', 4},
        {"RATIO", 'B', 8, 4}, {"PRICE", 'Y', 8}, {"DAY", 'D', 8}, {"STAMP", 'T', 8},
        {"ACTIVE", 'L', 1}, {"NOTES", 'M', 4}};
    std::printf("xbase_bench: %ld rows, 10 fields (C V N I B Y D T L M), file %s\n", rows, path.c_str());

    // ---- append ----
    long rssBefore = peakRssKb();
    auto t0 = std::chrono::steady_clock::now();
    {
        auto t = DbfTable::create(path, fields);
        std::vector<Value> row(10);
        std::string name, city, notes;
        t->begin();
        for (long i = 0; i < rows; ++i) {
            name = "Customer ";
            name += std::to_string(i);
            city = (i % 3) ? "Amsterdam" : "Rotterdam-Zuid";
            notes = "Memo text for row ";
            notes += std::to_string(i);
            notes += i % 10 ? "." : " with a somewhat longer remark that spans more of a memo block.";
            row[0].setString(name);
            row[1].setString(city);
            row[2] = Value::decimal(qm::Decimal{static_cast<std::int64_t>(i) * 37 - 500000, 2});
            row[3] = Value::longInt(static_cast<std::int32_t>(i));
            row[4] = Value::dbl(static_cast<double>(i) / 3.0);
            row[5] = Value::currency(i * 12345);
            row[6] = Value::date(36526.0 + static_cast<double>(i % 10000));
            row[7] = Value::date(36526.0 + static_cast<double>(i % 10000) + static_cast<double>(i % 86400) / 86400.0);
            row[8] = Value::boolean(i % 2 == 0);
            row[9].setString(notes);
            t->append(row);
        }
        t->commit();
    }
    double appendSec = seconds(t0);
    const double dbfMb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    const double fptMb = static_cast<double>(std::filesystem::file_size(folder / "bench.fpt")) / 1e6;
    std::printf("append: %.2f s, %.0f rows/s, %.1f MB/s (dbf %.1f MB + fpt %.1f MB), peak RSS %ld -> %ld KB\n",
                appendSec, rows / appendSec, (dbfMb + fptMb) / appendSec, dbfMb, fptMb, rssBefore, peakRssKb());

    // ---- full read, every field decoded ----
    rssBefore = peakRssKb();
    t0 = std::chrono::steady_clock::now();
    long seen = 0;
    std::int64_t check = 0;
    {
        auto t = DbfTable::open(path);
        auto r = t->reader();
        std::vector<Value> row(10);
        while (r->next()) {
            for (std::size_t f = 0; f < 10; ++f)
                r->decode(f, row[f]);
            check += row[3].rawInt() + static_cast<std::int64_t>(row[9].rawString().size());
            ++seen;
        }
    }
    double readSec = seconds(t0);
    std::printf("read:   %.2f s, %.0f rows/s, %.1f MB/s, peak RSS %ld -> %ld KB (%ld rows, check %lld)\n", readSec,
                seen / readSec, (dbfMb + fptMb) / readSec, rssBefore, peakRssKb(), seen, static_cast<long long>(check));
    std::filesystem::remove(path);
    std::filesystem::remove(folder / "bench.fpt");
    return seen == rows ? 0 : 1;
}
