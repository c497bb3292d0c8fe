// Access -> FoxPro container, plain form: the transfer (structure and the
// script of row statements) and the script's execution, timed apart, with
// rows/s for each half and the run's peak memory against the script's size.
//
//   tofoxpro_bench [ROWS]      (default 1,000,000)
#include "ado/ado.h"
#include "dataaccess/connectionstrings.h"
#include "mainwindow/headlesshost.h"
#include "providers/providers.h"
#include "shell/dialogs.h"
#include "sqlwindow/executescript.h"
#include "storage/open.h"
#include "tofoxpro/sendtofoxpro.h"
#include "xbase/dbc.h"

#include <sys/resource.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using namespace qm;
using CT = storage::ColumnType;

namespace {

storage::ColumnSpec col(std::string name, CT type, int size = 0)
{
    storage::ColumnSpec c;
    c.name = std::move(name);
    c.type = type;
    c.size = size;
    return c;
}

// Answers the final message box quietly.
class Quiet final : public shell::DialogService {
public:
    shell::Answer messageBox(const QString&, shell::Buttons, shell::Icon, const QString&) override { return shell::Answer::OK; }
    QString inputBox(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString openFile(QWidget*, const shell::OpenFileRequest&) override { return {}; }
    QString browseForFolder(QWidget*, const QString&) override { return {}; }
    void setClipboardText(const QString&) override {}
    QString clipboardText() override { return {}; }
    void doEvents() override {}
};

double peakMegabytes()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char** argv)
{
    const long rows = argc > 1 ? std::stol(argv[1]) : 1000000;
    const fs::path dir = fs::temp_directory_path() / ("qm-tofoxpro-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path mdb = dir / "source.mdb";
    {
        auto db = jet::createDatabase(mdb.string(), jet::NewFileFormat::Jet4Mdb);
        storage::TableSpec t;
        t.name = "Bench";
        t.columns = {col("ID", CT::Long),        col("Name", CT::VarChar, 50), col("Price", CT::Double),
                     col("Total", CT::Currency), col("When", CT::DateTime),    col("Done", CT::Boolean),
                     col("Note", CT::Memo),      col("Qty", CT::Integer),      col("Grade", CT::Byte),
                     col("Code", CT::VarChar, 20)};
        db->createTable(t);
        std::vector<Value> row(10);
        db->beginBatch();
        for (long i = 0; i < rows; ++i) {
            row[0] = Value::longInt(std::int32_t(i));
            row[1] = Value::string("Customer " + std::to_string((i * 7919) % 1000003));
            row[2] = Value::dbl(double(i) * 0.25);
            row[3] = Value::currency(i * 100);
            row[4] = Value::date(40000.0 + double(i % 5000) + 0.5);
            row[5] = Value::boolean(i % 3 == 0);
            row[6] = Value::string("note " + std::to_string(i % 1000));
            row[7] = Value::integer(std::int16_t(i % 30000));
            row[8] = Value::byte(std::uint8_t(i % 250));
            row[9] = Value::string("C" + std::to_string(i % 97));
            db->append("Bench", row);
        }
        db->endBatch();
    }
    const fs::path dbc = dir / "target.dbc";
    xbase::Container::create(dbc.string());
    const double before = peakMegabytes();

    providers::registerBuiltInProviders();
    Quiet quiet;
    shell::ScopedDialogService scope(quiet);
    dataaccess::ConnectionFields fields;
    fields.option1 = true;
    fields.text1 = QString::fromStdString(dbc.string());
    fields.text3 = QString::fromStdString(mdb.string());
    dataaccess::SetConnectionFieldsSource([fields] { return fields; });

    mainwindow::HeadlessHost host;
    host.accessList().setRows({"Bench"}, {"TABLE"});
    host.accessList().setSelected(0, true);
    host.accessList().setListIndex(0);

    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    tofoxpro::SendTablesToFoxPro(host);
    const auto t1 = std::chrono::steady_clock::now();
    const std::clock_t c1 = std::clock();
    sqlwindow::ScriptRunResult result;
    {
        ado::Connection fox, acc;
        fox.Open(dataaccess::FoxProConnectionString(fields).toStdString());
        acc.Open(dataaccess::AccessConnectionString(QString(), QString(), fields).toStdString());
        result = sqlwindow::ExecuteScript(host.script(), sqlwindow::ScriptTarget::FoxPro, fox, acc);
    }
    const auto t2 = std::chrono::steady_clock::now();
    const std::clock_t c2 = std::clock();
    dataaccess::SetConnectionFieldsSource({});

    const double transfer = std::chrono::duration<double>(t1 - t0).count();
    const double execute = std::chrono::duration<double>(t2 - t1).count();
    const double scriptMb = double(host.script().length()) * 2 / (1024.0 * 1024.0);
    std::printf("rows: %ld, statements failed: %lld\n", rows, static_cast<long long>(result.failed));
    // CPU time tells more than wall time on a machine shared with other work.
    const double transferCpu = double(c1 - c0) / CLOCKS_PER_SEC, executeCpu = double(c2 - c1) / CLOCKS_PER_SEC;
    std::printf("transfer (structure + script):  %.2f s wall, %.2f s CPU, %.0f rows/s (CPU: %.0f)\n", transfer,
                transferCpu, double(rows) / transfer, double(rows) / transferCpu);
    std::printf("script execution:               %.2f s wall, %.2f s CPU, %.0f rows/s (CPU: %.0f)\n", execute,
                executeCpu, double(rows) / execute, double(rows) / executeCpu);
    std::printf("total:                          %.2f s (target: at most 5 s for 1,000,000 rows)\n", transfer + execute);
    std::printf("script: %.1f MB (UTF-16); peak memory of the run: %.1f MB (%.2f x the script; before the run %.1f MB)\n",
                scriptMb, peakMegabytes(), peakMegabytes() / scriptMb, before);
    fs::remove_all(dir);
    return result.ok() ? 0 : 1;
}
