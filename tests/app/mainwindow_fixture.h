// The connection and main windows over copies of the sample databases: the
// starting point of the main-window and catalog tests.
#pragma once

#include "app_test.h"
#include "dataaccess/connectionstrings.h"
#include "mainwindow/form2.h"
#include "shell/form1.h"

#include <QRadioButton>
#include <QTest>

#include <filesystem>
#include <memory>

namespace qm::test {

inline std::filesystem::path samplesDir() { return binaryDir() / "src" / "app" / "Samples"; }

class MainWindowTest : public AppTest {
protected:
    MainWindowTest()
    {
        namespace fs = std::filesystem;
        fs::copy_file(samplesDir() / "sample.mdb", mdb);
        fs::copy(samplesDir() / "FoxPro", foxFolder, fs::copy_options::recursive);
        form1.Text3->setText(qs(mdb));
        form1.Text1->setText(qs(foxFolder / "sample.dbc"));
        form1.Option1->setChecked(true);
        mainwindow::ConnectMainWindow(form1, form2);
    }

    // "Next >", then the main window as it came up.
    mainwindow::Form2& next()
    {
        form1.PushButton2_Click();
        EXPECT_TRUE(form2) << "the main window did not open";
        return *form2;
    }

    // Indexes of the names in the list, -1 when absent.
    static int rowOf(const dataaccess::ObjectList& list, const QString& name)
    {
        for (int i = 0; i < list.ListCount(); ++i)
            if (list.List(i) == name)
                return i;
        return -1;
    }

    const std::filesystem::path mdb = scratch / "shop.mdb";
    const std::filesystem::path foxFolder = scratch / "fox";
    shell::Form1 form1;
    std::unique_ptr<mainwindow::Form2> form2;
};

// The names mdbtools lists for the file's tables (user tables only).
inline QStringList mdbTables(const std::filesystem::path& file)
{
    const RunResult r = run({"mdb-tables", "-1", file.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return QString::fromStdString(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The saved queries mdbtools lists.
inline QStringList mdbQueries(const std::filesystem::path& file)
{
    const RunResult r = run({"mdb-queries", "-1", file.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return QString::fromStdString(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace qm::test
