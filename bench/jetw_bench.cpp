// Append speed of the Access writer.
//
//   jetw_bench [rows] [folder]
//
// 1. A 10-column table (Long, Text(50), Double, Currency, Date/Time, Yes/No,
//    short Memo, Integer, Byte, Text(20)) without indexes: rows per second,
//    and the file size against the bytes the rows need (row images plus the
//    2-byte slot each row takes on its page).
// 2. The same table with a primary key and an index on the text column.
// Both in one batch per table, as a transfer writes them.
#include "storage/open.h"

#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace qm;
using CT = storage::ColumnType;
namespace fs = std::filesystem;

namespace {

storage::ColumnSpec col(const char* name, CT type, int size = 0) {
    storage::ColumnSpec c;
    c.name = name;
    c.type = type;
    c.size = size;
    return c;
}

// The bytes a row image of this table takes: 2 (column count) + 27 fixed
// bytes + variable data + 2 (end) + 4 x 2 (offsets) + 2 (count) + 2 (null
// mask), plus its 2-byte slot.
std::size_t rowBytes(const std::string& name, const std::string& memo, const std::string& code) {
    auto textBytes = [](const std::string& s) { return s.size() > 2 ? s.size() + 2 : 2 * s.size(); };
    const std::size_t fixed = 4 + 8 + 8 + 8 + 2 + 1;
    const std::size_t var = textBytes(name) + (12 + textBytes(memo)) + textBytes(code);
    return 2 + fixed + var + 2 + 2 * 3 + 2 + 2 + 2;
}

// Rows per second of wall-clock time and of this process's CPU time (the
// second tells more on a machine shared with other work).
struct Rate {
    double wall = 0, cpu = 0;
};

Rate run(const fs::path& path, long rows, bool indexed, std::size_t& dataBytes) {
    auto db = qm::jet::createDatabase(path.string(), qm::jet::NewFileFormat::Jet4Mdb);
    storage::TableSpec t;
    t.name = "Bench";
    t.columns = {col("ID", CT::Long),        col("Name", CT::VarChar, 50), col("Price", CT::Double),
                 col("Total", CT::Currency), col("When", CT::DateTime),    col("Done", CT::Boolean),
                 col("Note", CT::Memo),      col("Qty", CT::Integer),      col("Grade", CT::Byte),
                 col("Code", CT::VarChar, 20)};
    if (indexed) t.indexes = {{"PrimaryKey", {"ID"}, true, false}, {"Name", {"Name"}, false, false}};
    db->createTable(t);
    std::vector<Value> row(10);
    dataBytes = 0;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    db->beginBatch();
    for (long i = 0; i < rows; ++i) {
        const std::string name = "Customer " + std::to_string((i * 7919) % 1000003);
        const std::string memo = "note " + std::to_string(i % 1000);
        const std::string code = "C" + std::to_string(i % 97);
        row[0] = Value::longInt(std::int32_t(i));
        row[1] = Value::string(name);
        row[2] = Value::dbl(double(i) * 0.25);
        row[3] = Value::currency(i * 100);
        row[4] = Value::date(40000.0 + double(i % 5000) + 0.5);
        row[5] = Value::boolean(i % 3 == 0);
        row[6] = Value::string(memo);
        row[7] = Value::integer(std::int16_t(i % 30000));
        row[8] = Value::byte(std::uint8_t(i % 250));
        row[9] = Value::string(code);
        db->append("Bench", row);
        dataBytes += rowBytes(name, memo, code);
    }
    db->endBatch();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    return {double(rows) / seconds, double(rows) / cpu};
}

} // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    try {
        for (bool indexed : {false, true}) {
            const fs::path p = folder / (std::string("jetw-bench-") + std::to_string(::getpid()) +
                                         (indexed ? "-indexed.mdb" : ".mdb"));
            std::size_t dataBytes = 0;
            const Rate rate = run(p, rows, indexed, dataBytes);
            const auto size = fs::file_size(p);
            std::printf("%-33s %8ld rows %9.0f rows/s (%9.0f per CPU second)  file %7.1f MB",
                        indexed ? "append, primary key + text index" : "append, no index", rows, rate.wall, rate.cpu,
                        double(size) / 1e6);
            if (!indexed)
                std::printf("  data %7.1f MB  overhead %5.1f %%", double(dataBytes) / 1e6,
                            100.0 * (double(size) / double(dataBytes) - 1.0));
            std::printf("\n");
            fs::remove(p);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
