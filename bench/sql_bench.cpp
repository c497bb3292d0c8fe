// Statements per second for a script of single-row INSERT statements as the
// transfer to FoxPro writes them:
//
//   insert into [T] (a,b,c,d,e,f,g,h,i,j) values (1,'name 1',12.34,Date(2016,11,3),1,...)
//
// run into a FoxPro free table and into an Access table, plus the rate of
// splitting and parsing alone.  Targets: 500,000 statements/s into FoxPro,
// 300,000 into Access.
//
//   sql_bench [STATEMENTS] [FOLDER]     (default 1000000, a folder under /tmp)
#include "sql/executor.h"
#include "storage/open.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace qm;
using Clock = std::chrono::steady_clock;

std::string makeScript(long n) {
    std::string s;
    s.reserve(static_cast<std::size_t>(n) * 150);
    char line[256];
    for (long i = 1; i <= n; ++i) {
        const int len = std::snprintf(line, sizeof line,
                                      "insert into [T] (a,b,c,d,e,f,g,h,i,j) values (%ld,'name %ld it''s',%ld.%02ld,Date(2016,11,%ld),%ld,%ld.5,%ld,'x%ld',%ld.25,Date(2001,1,1))\r\n",
                                      i, i, i % 100000, i % 100, 1 + i % 28, i % 2, i % 1000, -i, i % 97, i % 5000);
        s.append(line, static_cast<std::size_t>(len));
    }
    return s;
}

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// Wall time, and the processor time of this process: on a shared machine
// the second tells what the work itself costs.
struct Timer {
    Clock::time_point wall = Clock::now();
    std::clock_t cpu = std::clock();
};

void report(const char* what, long n, const Timer& t) {
    const double wall = std::chrono::duration<double>(Clock::now() - t.wall).count();
    const double cpu = static_cast<double>(std::clock() - t.cpu) / CLOCKS_PER_SEC;
    std::printf("%-30s %9ld statements  wall %7.2f s %9.0f/s   cpu %7.2f s %9.0f/s\n", what, n, wall, n / wall, cpu, n / cpu);
}

void run(const char* what, storage::Database& db, sql::Dialect dialect, const std::string& create, const std::string& script,
         long n) {
    sql::Executor ex(db, dialect);
    ex.runScript(create);
    const Timer t;
    ex.runScript(script);
    report(what, n, t);
    auto check = ex.query("SELECT COUNT(*) FROM T");
    check->next();
    if (check->value(0).toInt64() != n) {
        std::fprintf(stderr, "%s: %lld rows instead of %ld\n", what, static_cast<long long>(check->value(0).toInt64()), n);
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    const long n = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::filesystem::path dir = argc > 2 ? std::filesystem::path(argv[2])
                                               : std::filesystem::temp_directory_path() / "qm_sql_bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "fox");

    const auto g0 = Clock::now();
    const std::string script = makeScript(n);
    const auto g1 = Clock::now();
    std::printf("script: %ld statements, %.1f MB, made in %.2f s\n", n, script.size() / 1e6, seconds(g0, g1));

    {
        // Splitting and parsing alone: the SQL layer's own share.
        const Timer t;
        sql::ScriptSplitter split(script, sql::Dialect::FoxPro);
        sql::Parser parser(sql::Dialect::FoxPro);
        sql::ScriptStatement st;
        sql::Statement stmt;
        long parsed = 0;
        while (split.next(st))
            if (parser.parse(st.text, stmt)) ++parsed;
        report("split + parse only", parsed, t);
    }

    try {
        storage::OpenOptions o;
        auto fox = xbase::openFolder((dir / "fox").string(), o);
        run("into a FoxPro free table", *fox, sql::Dialect::FoxPro,
            "CREATE TABLE T (a I, b C(30), c N(10,2), d D, e L, f B, g I, h C(10), i Y, j D)", script, n);
    } catch (const std::exception& e) {
        std::printf("into a FoxPro free table: failed: %s\n", e.what());
    }
    try {
        auto access = jet::createDatabase((dir / "bench.mdb").string(), jet::NewFileFormat::Jet4Mdb);
        run("into an Access table (.mdb)", *access, sql::Dialect::Access,
            "CREATE TABLE T (a INTEGER, b TEXT(30), c DECIMAL(10,2), d DATETIME, e BIT, f DOUBLE, g INTEGER, h TEXT(10), "
            "i CURRENCY, j DATETIME)",
            script, n);
    } catch (const std::exception& e) {
        std::printf("into an Access table (.mdb): failed: %s\n", e.what());
    }
    std::filesystem::remove_all(dir);
    return 0;
}
