// Building a key over a table that already holds its rows.
//
//   keys_bench [rows] [folder]
//
// 1. Access: a table of `rows` rows (Long, Text(50)) written in one batch,
//    then an index on the text column and a unique index on the Long
//    column, each timed on its own (keys computed, sorted, laid out once).
// 2. FoxPro: a free table of `rows` records (I, C(30)), then a tag on the
//    character field and a candidate tag on the integer field.
// Wall-clock and CPU seconds are printed for each build (the second tells
// more on a machine shared with other work).
#include "storage/open.h"

#include <chrono>
#include <cstdio>
#include <ctime>
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

double cpuNow() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

template <typename F>
void timed(const char* what, F&& f) {
    const auto w0 = std::chrono::steady_clock::now();
    const double c0 = cpuNow();
    f();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    std::printf("  %-44s %7.2f s wall, %7.2f s cpu\n", what, wall, cpuNow() - c0);
    std::fflush(stdout);
}

// Names in no particular order, with many sharing a prefix, as real names do.
std::string nameOf(long i) {
    const long k = (i * 7919) % 1000003;
    return "Customer " + std::to_string(k % 977) + " " + std::to_string(k);
}

void fill(storage::Database& db, const std::string& table, long rows) {
    db.beginBatch();
    std::vector<Value> row(2);
    for (long i = 0; i < rows; ++i) {
        row[0] = Value::longInt(std::int32_t((i * 2654435761L) % 2000000011L));
        row[1] = Value::string(nameOf(i));
        db.append(table, row);
    }
    db.endBatch();
}

} // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / ("keys_bench." + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::printf("keys_bench: %ld rows in %s\n", rows, folder.string().c_str());

    std::printf("Access (.mdb):\n");
    {
        auto db = qm::jet::createDatabase((folder / "bench.mdb").string(), qm::jet::NewFileFormat::Jet4Mdb);
        db->createTable({"Bench", {col("ID", CT::Long), col("Name", CT::VarChar, 50)}, {}});
        timed("filling the table", [&] { fill(*db, "Bench", rows); });
        timed("CREATE INDEX on Text(50)", [&] { db->createIndex("Bench", {.name = "ixName", .columns = {"Name"}}); });
        timed("CREATE UNIQUE INDEX on Long", [&] {
            db->createIndex("Bench", {.name = "ixID", .columns = {"ID"}, .unique = true});
        });
    }
    std::printf("FoxPro free table:\n");
    {
        auto db = xbase::openFolder(folder.string(), {});
        db->createTable({"bench", {col("id", CT::Long), col("name", CT::Char, 30)}, {}});
        timed("filling the table", [&] { fill(*db, "bench", rows); });
        timed("INDEX ON name TAG name", [&] { db->createIndex("bench", {.name = "name", .columns = {"name"}}); });
        timed("INDEX ON id TAG id CANDIDATE (rebuilds both tags)", [&] {
            db->createIndex("bench", {.name = "id", .columns = {"id"}, .unique = true});
        });
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
