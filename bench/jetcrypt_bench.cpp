// Reading a table from a password-protected (agile AES) .accdb against
// reading the same table from an .accdb in clear.
//
//   jetcrypt_bench [ROWS] [REPEAT] [FOLDER]
//
// Makes both files in FOLDER (default: a new folder under /tmp, removed
// afterwards) with ROWS rows (default 1,000,000) of a Long, a Text(40), a
// Double and a Date/Time column, then reads each whole table REPEAT times
// (default 3) and prints rows/s for both and their ratio.
#include "jet/database.h"
#include "storage/open.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace qm;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPassword = "bench password";

void build(const fs::path& path, long rows, const std::string& password) {
    auto db = jet::createDatabase(path.string(), jet::NewFileFormat::Ace12Accdb, password);
    storage::TableSpec t;
    t.name = "Bench";
    auto column = [](const char* name, storage::ColumnType type, int size = 0) {
        storage::ColumnSpec c;
        c.name = name;
        c.type = type;
        c.size = size;
        return c;
    };
    t.columns = {column("ID", storage::ColumnType::Long), column("Name", storage::ColumnType::VarChar, 40),
                 column("Amount", storage::ColumnType::Double), column("Stamp", storage::ColumnType::DateTime)};
    db->createTable(t);
    db->beginBatch();
    std::vector<Value> row(4);
    for (long i = 0; i < rows; ++i) {
        row[0] = Value::longInt(std::int32_t(i));
        row[1] = Value::string("customer number " + std::to_string(i * 7919 % 1000003));
        row[2] = Value::dbl(double(i) * 0.37);
        row[3] = Value::date(40000.0 + double(i) / 1440.0);
        db->append("Bench", row);
    }
    db->endBatch();
}

// Seconds for one full read of the table, every value fetched.
double readOnce(const fs::path& path, const std::string& password, long expected) {
    const auto start = std::chrono::steady_clock::now();
    storage::OpenOptions o;
    o.readOnly = true;
    o.password = password;
    jet::JetDatabase db(path.string(), o);
    auto cur = db.scan("Bench");
    long n = 0;
    std::size_t bytes = 0;
    while (cur->next()) {
        bytes += cur->value(1).rawString().size();
        (void)cur->value(0);
        (void)cur->value(2);
        (void)cur->value(3);
        ++n;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (n != expected || bytes == 0) {
        std::fprintf(stderr, "%s: read %ld rows, expected %ld\n", path.c_str(), n, expected);
        std::exit(1);
    }
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
    const int repeat = argc > 2 ? std::stoi(argv[2]) : 3;
    const bool ownFolder = argc <= 3;
    const fs::path folder = ownFolder ? fs::temp_directory_path() / ("jetcrypt-bench-" + std::to_string(::getpid()))
                                      : fs::path(argv[3]);
    fs::create_directories(folder);
    const fs::path clear = folder / "clear.accdb", encrypted = folder / "encrypted.accdb";
    try {
        for (const auto& [path, password] : {std::pair{clear, std::string()}, std::pair{encrypted, std::string(kPassword)}}) {
            fs::remove(path);
            const auto start = std::chrono::steady_clock::now();
            build(path, rows, password);
            std::printf("built %s: %ld rows, %.1f MB, %.2f s\n", path.filename().c_str(), rows,
                        double(fs::file_size(path)) / 1e6,
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        double bestClear = 1e30, bestEncrypted = 1e30;
        for (int r = 0; r < repeat; ++r) {
            bestClear = std::min(bestClear, readOnce(clear, {}, rows));
            bestEncrypted = std::min(bestEncrypted, readOnce(encrypted, kPassword, rows));
        }
        std::printf("clear:     %.0f rows/s (best of %d: %.3f s)\n", double(rows) / bestClear, repeat, bestClear);
        std::printf("encrypted: %.0f rows/s (best of %d: %.3f s, agile AES-256, opening included)\n",
                    double(rows) / bestEncrypted, repeat, bestEncrypted);
        std::printf("encrypted / clear speed: %.2f (target: at least 0.50)\n", bestClear / bestEncrypted);
        double bestOpen = 1e30;
        for (int r = 0; r < repeat; ++r) {
            const auto start = std::chrono::steady_clock::now();
            storage::OpenOptions o;
            o.readOnly = true;
            o.password = kPassword;
            jet::JetDatabase db(encrypted.string(), o);
            bestOpen = std::min(bestOpen, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::printf("of which opening the encrypted file (password check, key derivation): %.3f s\n", bestOpen);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        if (ownFolder) fs::remove_all(folder);
        return 1;
    }
    if (ownFolder) fs::remove_all(folder);
    return 0;
}
