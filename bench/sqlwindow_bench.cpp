// The SQL window with a long script: a million single-row INSERT lines as
// the transfer to FoxPro writes them are appended to the window's script
// (the window shown, offscreen), then executed on a FoxPro database
// container through the window's run.  Prints the append rate, the
// execution rate beside the SQL layer's own rate on the same statements,
// the time one key takes in the middle of it, and the peak memory
// against the script's size.
//
// Targets: execution at the provider's speed, at least 500,000
// statements/s; peak memory at most 3 times the script's size.
//
//   sqlwindow_bench [STATEMENTS] [FOLDER]   (default 1000000, a folder under /tmp)
#include "ado/ado.h"
#include "providers/providers.h"
#include "sql/executor.h"
#include "sqlwindow/executescript.h"
#include "sqlwindow/form4.h"
#include "storage/open.h"
#include "xbase/dbc.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace qm;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const char* kCreate = "CREATE TABLE T (a I, b C(30), c N(10,2), d D, e L, f B, g I, h C(10), i Y, j D)";

// Peak resident memory of this process so far, in bytes.
double peakBytes()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) * 1024.0;
    return 0;
}

struct Timer {
    Clock::time_point wall = Clock::now();
    std::clock_t cpu = std::clock();
    void report(const char* what, long n, const char* unit) const
    {
        const double w = std::chrono::duration<double>(Clock::now() - wall).count();
        const double c = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
        std::printf("%-34s %9ld %s  wall %7.2f s %10.0f/s   cpu %7.2f s %10.0f/s\n", what, n, unit, w, n / w, c, n / c);
    }
};

fs::path makeContainer(const fs::path& dir)
{
    fs::create_directories(dir);
    const fs::path dbc = dir / "bench.dbc";
    xbase::Container::create(dbc.string());
    auto db = storage::openDatabase(dbc.string());
    sql::Executor(*db, sql::Dialect::FoxPro).runScript(kCreate);
    return dbc;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    providers::registerBuiltInProviders();
    const long n = argc > 1 ? std::atol(argv[1]) : 1000000;
    const fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "qm_sqlwindow_bench";
    fs::remove_all(dir);
    const fs::path dbc = makeContainer(dir / "window");
    std::printf("memory before the script: %.1f MB\n", peakBytes() / 1e6);

    sqlwindow::Form4 form;
    form.show();
    {
        const Timer t;
        char line[256];
        for (long i = 1; i <= n; ++i) {
            const int len = std::snprintf(line, sizeof line,
                                          "insert into [T] (a,b,c,d,e,f,g,h,i,j) values (%ld,'name %ld it''s',%ld.%02ld,"
                                          "{^2016-11-%02ld},.T.,%ld.5,%ld,'x%ld',%ld.25,{^2001-01-01})",
                                          i, i, i % 100000, i % 100, 1 + i % 28, i % 1000, -i, i % 97, i % 5000);
            form.script().appendLine(QString::fromLatin1(line, len));
            if (i % 100000 == 0)
                QCoreApplication::processEvents(); // the window catches up now and then
        }
        QCoreApplication::processEvents();
        t.report("append to the shown script", n, "lines     ");
    }
    const double scriptBytes = static_cast<double>(form.script().length()); // ASCII: one byte a character
    std::printf("script: %ld lines, %.1f MB as text (held as UTF-16: %.1f MB); peak so far %.1f MB\n",
                static_cast<long>(form.script().lineCount()), scriptBytes / 1e6, 2 * scriptBytes / 1e6, peakBytes() / 1e6);

    {
        // Typing in the middle of the script: each key changes the buffer
        // the window shows, then the window repaints.
        sqlwindow::ScriptEditor& editor = *form.Text1;
        editor.setCaret(form.script().lineStart(form.script().lineCount() / 2) + 10);
        const int keys = 40;
        const Timer t;
        for (int i = 0; i < keys; ++i) {
            editor.insertText(QStringLiteral("x"));
            editor.repaint();
        }
        for (int i = 0; i < keys; ++i) {
            editor.undo();
            editor.repaint();
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t.wall).count() / (2 * keys);
        std::printf("a key typed or undone in the middle: %.1f ms (wall)\n", ms);
    }

    {
        ado::Connection fox, access;
        fox.Open(providers::connectionStringFor(dbc.string()));
        // The run needs an Access connection too; the window opens the
        // user's database, the bench a new empty one.
        {
            auto mdb = jet::createDatabase((dir / "bench.mdb").string(), jet::NewFileFormat::Jet4Mdb);
        }
        access.Open(providers::connectionStringFor((dir / "bench.mdb").string()));
        long progressCalls = 0;
        const Timer t;
        const sqlwindow::ScriptRunResult r = sqlwindow::ExecuteScript(
            form.script(), sqlwindow::ScriptTarget::FoxPro, fox, access, [&](qsizetype, qsizetype, qsizetype) {
                ++progressCalls;
                QCoreApplication::processEvents(); // as the window does through DoEvents
                return true;
            });
        t.report("execute (window's run, FoxPro)", static_cast<long>(r.statements), "statements");
        if (!r.ok()) {
            std::fprintf(stderr, "%s\n", r.report().toUtf8().constData());
            return 1;
        }
        std::printf("progress shown %ld times\n", progressCalls);
    }
    const double peak = peakBytes();
    std::printf("peak memory %.1f MB = %.2f x the script's size (%.2f x its UTF-16 form)\n", peak / 1e6,
                peak / scriptBytes, peak / (2 * scriptBytes));

    {
        // The same statements straight into the SQL layer, for comparison:
        // the provider's own speed.
        const fs::path ref = makeContainer(dir / "reference");
        const std::string text = form.script().text().toStdString();
        form.script().clear();
        auto db = storage::openDatabase(ref.string());
        sql::Executor ex(*db, sql::Dialect::FoxPro);
        const Timer t;
        const std::size_t count = ex.runScript(text);
        t.report("SQL layer alone (same script)", static_cast<long>(count), "statements");
    }
    fs::remove_all(dir);
    return 0;
}
