// SQL text of either dialect, run the way the SQL window and
// `quillmere-cli exec` run it: the script cut into statements, each parsed,
// bound and executed against a small scratch database, and the rows of
// every plain SELECT read to the end.  Any outcome but a clean run or a
// qm::Error is a finding.
//
// The first byte picks the dialect (odd: Access, even: FoxPro; the seeds
// start with 'A' and 'F'); the rest is the script.  Every input starts from
// the same files: the scratch databases are made once per process in a
// private folder and copied to a working copy before each input.
#include "scratch_db.h"
#include "sql/executor.h"
#include "storage/open.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace qm;

namespace {

fs::path g_root;      // the private folder
fs::path g_pristine;  // the databases as made
fs::path g_work;      // the copy an input works on

void removeRoot()
{
    std::error_code ec;
    if (!g_root.empty()) fs::remove_all(g_root, ec);
}

// A legitimate statement can visit more rows than a fuzzing run has time
// for (a table joined with itself ten times, an INSERT ... SELECT doubling
// a table again and again) or hold more than the memory limit (sixteen
// megabyte texts on every row of a join).  Such an input is stopped through
// the executor's stop hook instead of counting as a hang or a leak of
// memory: after this many row visits in the whole input, this much time,
// or this much memory in the process.
constexpr std::uint64_t kMaxVisits = 200'000;
constexpr auto kMaxTime = std::chrono::milliseconds(1500);
constexpr long kMaxResidentMb = 1200;

long residentMb()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024) / 1024;
}

struct Budget {
    std::uint64_t visits = 0;
    std::chrono::steady_clock::time_point deadline;
    bool tripped = false;
    bool exceeded() {
        if (!tripped && (++visits > kMaxVisits || std::chrono::steady_clock::now() > deadline
                         || ((visits & 15) == 0 && residentMb() > kMaxResidentMb)))
            tripped = true;
        return tripped;
    }
};

// External targets ([dBase IV;DATABASE=folder;]) may only name folders of
// the working copy; a relative folder is taken inside it.
std::unique_ptr<storage::Database> openScratchFolder(const std::string& folder, const storage::OpenOptions& options)
{
    fs::path p = folder;
    if (p.is_relative()) p = g_work / p;
    std::error_code ec;
    const fs::path full = fs::weakly_canonical(p, ec);
    const fs::path work = fs::weakly_canonical(g_work, ec);
    const std::string f = full.string(), w = work.string();
    if (ec || f.compare(0, w.size(), w) != 0 || (f.size() > w.size() && f[w.size()] != '/'))
        throw Error("The folder '" + folder + "' is outside the scratch folder.");
    return storage::openDatabase(f, options);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* base = fs::is_directory("/dev/shm") ? "/dev/shm/qm-sqlfuzz-XXXXXX" : "/tmp/qm-sqlfuzz-XXXXXX";
    std::string templ = base;
    if (!::mkdtemp(templ.data())) std::abort();
    g_root = templ;
    std::atexit(removeRoot);
    g_pristine = g_root / "pristine";
    g_work = g_root / "work";
    try {
        fuzz::makeScratchDatabases(g_pristine);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_sql: cannot make the scratch databases: %s\n", e.what());
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const sql::Dialect dialect = (data[0] & 1) ? sql::Dialect::Access : sql::Dialect::FoxPro;
    const std::string_view script(reinterpret_cast<const char*>(data + 1), size - 1);

    std::error_code ec;
    fs::remove_all(g_work, ec);
    fs::copy(g_pristine, g_work, fs::copy_options::recursive, ec);
    if (ec) std::abort();

    Budget budget;
    budget.deadline = std::chrono::steady_clock::now() + kMaxTime;
    try {
        const fs::path dbPath = dialect == sql::Dialect::Access ? g_work / "access" / "scratch.mdb"
                                                                : g_work / "fox" / "scratch.dbc";
        auto db = storage::openDatabase(dbPath.string());
        sql::ExecutorOptions options;
        options.caseInsensitiveText = true;
        options.openFolder = openScratchFolder;
        options.stopRequested = [&budget] { return budget.exceeded(); };
        sql::Executor executor(*db, dialect, options);
        try {
            executor.runScript(script, [&](const sql::StatementOutcome& o) {
                if (o.failed || o.kind != sql::StatementKind::Select || o.rowsAffected != 0) return;
                // A plain SELECT: its rows are read, as the window shows them.
                try {
                    sql::Parser p(dialect);
                    if (p.parseSelect(o.text)->into) return;
                    auto cursor = executor.query(o.text);
                    const std::size_t n = cursor->columns().size();
                    while (cursor->next())
                        for (std::size_t c = 0; c < n; ++c) (void)cursor->value(c).toString();
                } catch (const sql::ParseError&) {
                } catch (const Error&) {
                }
            });
        } catch (const Error&) {
        }
    } catch (const Error&) {
    }
    // QM_FUZZ_SQL_SHOW_STOPS=1 lists the inputs that were stopped, to check
    // now and then that the cap hides no statement that would never end.
    static const bool showStops = std::getenv("QM_FUZZ_SQL_SHOW_STOPS") != nullptr;
    if (budget.tripped && showStops)
        std::fprintf(stderr, "fuzz_sql: stopped after %llu row visits: %.*s\n",
                     static_cast<unsigned long long>(budget.visits), static_cast<int>(std::min<std::size_t>(script.size(), 300)),
                     script.data());
    return 0;
}
