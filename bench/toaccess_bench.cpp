// Speed and memory of "Send Table/s To Access".
//
//   toaccess_bench [rows] [folder]
//
// Builds a FoxPro container with one table of `rows` rows (default
// 1,000,000) and 10 fields of mixed types (I, C(20), N(10,2), N(6), Y, B,
// D, T, L, M), then sends it, plain form, to a new .mdb and a new .accdb
// exactly as the main window's button does, with the window system's event
// processing and a progress bar that really repaints.  Prints rows/s, the
// share of the time the progress bar and the yielding took, and the peak
// resident memory against a run of a tenth of the rows (flat memory: the two
// should be close).
#include "dataaccess/connectionstrings.h"
#include "dataaccess/objectlist.h"
#include "mainwindow/transferhost.h"
#include "providers/providers.h"
#include "shell/dialogs.h"
#include "sqlwindow/scriptbuffer.h"
#include "storage/open.h"
#include "toaccess/sendtoaccess.h"
#include "xbase/dbc.h"
#include "jet/create_database.h"

#include <QApplication>
#include <QProgressBar>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace qm;
using CT = storage::ColumnType;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }


void makeSource(const fs::path& dbc, long rows)
{
    xbase::Container::create(dbc.string());
    auto db = storage::openDatabase(dbc.string());
    db->createTable({"orders",
                     {storage::column("id", CT::Long), storage::column("customer", CT::Char, 20), storage::column("price", CT::Decimal, 10, 9, 2),
                      storage::column("qty", CT::Decimal, 6, 6, 0), storage::column("amount", CT::Currency), storage::column("ratio", CT::Double),
                      storage::column("shipped", CT::Date), storage::column("stamp", CT::DateTime), storage::column("paid", CT::Boolean),
                      storage::column("notes", CT::Memo)},
                     {}});
    db->beginBatch();
    for (long i = 0; i < rows; ++i) {
        char name[32], price[32];
        std::snprintf(name, sizeof name, "Customer %ld", i % 5000);
        std::snprintf(price, sizeof price, "%ld.%02ld", i % 100000, i % 100);
        const Value row[] = {Value::longInt(std::int32_t(i)),
                             Value::string(name),
                             Value::decimal(*Decimal::parse(price)),
                             Value::decimal(Decimal::fromInt(i % 1000)),
                             Value::currency(std::int64_t(i) * 125),
                             Value::dbl(double(i) / 7.0),
                             Value::date(36000.0 + double(i % 9000)),
                             Value::date(40000.0 + double(i % 100000) / 1440.0),
                             Value::boolean(i % 3 == 0),
                             i % 10 == 0 ? Value::string("short note " + std::to_string(i)) : Value::null()};
        db->append("orders", row);
    }
    db->endBatch();
}

// Counts the time spent letting the window system run.
class TimedDialogs : public shell::DialogService {
public:
    explicit TimedDialogs(shell::DialogService& inner) : inner_(inner) {}
    shell::Answer messageBox(const QString& text, shell::Buttons b, shell::Icon i, const QString& t) override
    {
        std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
        ++messages;
        (void)b, (void)i, (void)t;
        return shell::Answer::OK;
    }
    QString inputBox(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString openFile(QWidget*, const shell::OpenFileRequest&) override { return {}; }
    QString browseForFolder(QWidget*, const QString&) override { return {}; }
    void setClipboardText(const QString&) override {}
    QString clipboardText() override { return {}; }
    void doEvents() override
    {
        const auto t0 = Clock::now();
        inner_.doEvents();
        spent += Clock::now() - t0;
        ++calls;
    }
    Clock::duration spent{};
    long calls = 0;
    int messages = 0;

private:
    shell::DialogService& inner_;
};

class BenchHost : public mainwindow::TransferHost {
public:
    BenchHost() { bar.show(); }
    dataaccess::ObjectList& accessList() override { return access; }
    dataaccess::ObjectList& foxproList() override { return foxpro; }
    int check15() const override { return 0; }
    int check16() const override { return 0; }
    void setProgress(int percent) override
    {
        const auto t0 = Clock::now();
        bar.setValue(percent);
        spent += Clock::now() - t0;
    }
    void setPointer(int) override {}
    sqlwindow::ScriptBuffer& script() override { return buffer; }
    void setExecuteCaption(const QString&) override {}
    void showSqlWindow() override {}
    QString showCustomization(const QString&, const QString&, const QString& sql) override { return sql; }

    dataaccess::ObjectList access, foxpro;
    sqlwindow::ScriptBuffer buffer;
    QProgressBar bar;
    Clock::duration spent{};
};

long peakRssKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// One transfer; returns its seconds.
double send(const fs::path& dbc, const fs::path& access, long rows, TimedDialogs& dialogs)
{
    jet::createDatabase(access.string(),
                        access.extension() == ".accdb" ? jet::NewFileFormat::Ace12Accdb : jet::NewFileFormat::Jet4Mdb);
    dataaccess::ConnectionFields f;
    f.option1 = true;
    f.text1 = QString::fromStdString(dbc.string());
    f.text3 = QString::fromStdString(access.string());
    dataaccess::SetConnectionFieldsSource([f] { return f; });
    BenchHost host;
    host.foxpro.AddItem("orders", "TABLE");
    host.foxpro.setSelected(0, true);
    host.foxpro.setListIndex(0);
    dialogs.spent = {};
    dialogs.calls = 0;
    const auto t0 = Clock::now();
    toaccess::SendTablesToAccess(host);
    const double s = seconds(Clock::now() - t0);
    const double ui = seconds(dialogs.spent + host.spent);
    std::printf("  %-6s %9ld rows  %6.2f s  %10.0f rows/s  file %6.1f MB\n", access.extension().c_str(), rows, s,
                double(rows) / s, double(fs::file_size(access)) / 1e6);
    std::printf("         progress bar %.3f s + yielding %.3f s (%ld times) = %.2f%% of the run\n",
                seconds(host.spent), seconds(dialogs.spent), dialogs.calls, 100.0 * ui / s);
    dataaccess::SetConnectionFieldsSource({});
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const fs::path folder = argc > 2 ? fs::path(argv[2])
                                     : fs::temp_directory_path() / ("toaccess-bench-" + std::to_string(::getpid()));
    QApplication app(argc, argv);
    providers::registerBuiltInProviders();
    TimedDialogs dialogs(shell::Dialogs());
    shell::ScopedDialogService scope(dialogs);
    int status = 0;
    try {
        const long small = std::max(rows / 10, 1L);
        for (const auto& [name, n] : {std::pair{"small", small}, std::pair{"large", rows}}) {
            fs::create_directories(folder / name);
            const auto t0 = Clock::now();
            makeSource(folder / name / "shop.dbc", n);
            std::printf("FoxPro table of %ld rows built in %.2f s\n", n, seconds(Clock::now() - t0));
            for (const char* ext : {".mdb", ".accdb"})
                send(folder / name / "shop.dbc", folder / name / (std::string("copy") + ext), n, dialogs);
            std::printf("  peak resident memory after %ld rows: %.1f MB\n", n, double(peakRssKb()) / 1024.0);
        }
        if (dialogs.messages)
            status = 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "toaccess_bench: %s\n", e.what());
        status = 1;
    }
    if (argc <= 2)
        fs::remove_all(folder);
    return status;
}
