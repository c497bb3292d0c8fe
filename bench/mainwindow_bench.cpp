// How long the main window takes to fill its two lists.
//
//   mainwindow_bench [tables] [folder]
//
// Builds (once, kept in the folder for later runs) an Access database with
// the given number of tables (10,000 by default) and a free-table folder
// with as many .dbf files spread over sub-folders, then times "Next >" of
// the connection window: both catalogs read and both lists filled in the
// shown main window.  Prints wall-clock and CPU seconds of the best of
// three runs.
#include "dataaccess/access.h"
#include "dataaccess/foxpro.h"
#include "jet/create_database.h"
#include "mainwindow/form2.h"
#include "shell/form1.h"
#include "storage/storage.h"
#include "xbase/dbf_table.h"

#ifdef QM_HAVE_PROVIDERS
#include "providers/providers.h"
#endif

#include <QApplication>
#include <QRadioButton>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using namespace qm;

namespace {

void makeAccess(const fs::path& path, long tables)
{
    if (fs::exists(path))
        return;
    auto db = jet::createDatabase(path.string(), jet::NewFileFormat::Jet4Mdb);
    db->beginBatch();
    for (long i = 0; i < tables; ++i) {
        storage::TableSpec t;
        t.name = "Table " + std::to_string(i);
        storage::ColumnSpec id;
        id.name = "ID";
        id.type = storage::ColumnType::Long;
        t.columns = {id};
        db->createTable(t);
    }
    db->endBatch();
}

void makeFolder(const fs::path& folder, long tables)
{
    if (fs::exists(folder))
        return;
    const fs::path first = folder / "t0.dbf";
    fs::create_directories(folder);
    {
        xbase::FieldSpec id;
        id.name = "ID";
        id.type = 'I';
        id.length = 4;
        xbase::DbfTable::create(first.string(), {id});
    }
    // A hundred sub-folders of a hundred tables each.
    for (long i = 1; i < tables; ++i) {
        const fs::path sub = folder / ("part" + std::to_string(i / 100));
        fs::create_directories(sub);
        fs::copy_file(first, sub / ("t" + std::to_string(i) + ".dbf"));
    }
}

} // namespace

int main(int argc, char** argv)
{
    const long tables = argc > 1 ? std::stol(argv[1]) : 10000;
    const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "qm_mainwindow_bench";
    // The connection window stores what is typed into it: not in the
    // user's own settings.
    fs::create_directories(folder / "config");
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
#ifdef QM_HAVE_PROVIDERS
    providers::registerBuiltInProviders();
#endif
    QApplication app(argc, argv);
    fs::create_directories(folder);
    const fs::path mdb = folder / ("tables" + std::to_string(tables) + ".mdb");
    const fs::path free = folder / ("free" + std::to_string(tables));
    std::printf("building %ld-table Access database and free-table folder in %s (once)...\n", tables,
                folder.c_str());
    makeAccess(mdb, tables);
    makeFolder(free, tables);

    shell::Form1 form1;
    std::unique_ptr<mainwindow::Form2> form2;
    mainwindow::ConnectMainWindow(form1, form2);
    form1.Text3->setText(QString::fromStdString(mdb.string()));
    form1.Option2->setChecked(true);
    form1.Text2->setText(QString::fromStdString(free.string()));

    double bestWall = 1e9, bestCpu = 1e9;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpu = std::clock();
        form1.NextAction();
        QApplication::processEvents(); // the lists paint
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        bestWall = std::min(bestWall, wall);
        bestCpu = std::min(bestCpu, double(std::clock() - cpu) / CLOCKS_PER_SEC);
        if (!form2 || form2->AccessRows.ListCount() != tables || form2->FoxProRows.ListCount() != tables) {
            std::fprintf(stderr, "the lists hold %d and %d rows, not %ld each\n",
                         form2 ? form2->AccessRows.ListCount() : -1, form2 ? form2->FoxProRows.ListCount() : -1,
                         tables);
            return 1;
        }
        form2->PushButton2_Click(); // "< Back" for the next round
    }
    std::printf("Next >, both lists of %ld rows: %.3f s wall, %.3f s CPU (best of 3)\n", tables, bestWall, bestCpu);
    return 0;
}
