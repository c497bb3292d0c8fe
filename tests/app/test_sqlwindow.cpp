// The SQL window's script: the buffer, running it on either database (with
// the free-table copy lines routed to the Access connection), and the window
// itself driven offscreen.  Every run works on copies of the sample
// databases the build makes; the files written are read back with the
// independent readers.

#include "app_test.h"
#include "ado/ado.h"
#include "providers/providers.h"
#include "sqlwindow/executescript.h"
#include "sqlwindow/scriptbuffer.h"

#include <QSignalSpy>

#include <filesystem>

using namespace qm::sqlwindow;
namespace fs = std::filesystem;

namespace {

fs::path samples() { return qm::test::binaryDir() / "src" / "app" / "Samples"; }

// Copies of the build's sample databases in a scratch folder.
struct SampleCopies {
    fs::path mdb, dbc, foxFolder;
    explicit SampleCopies(const fs::path& dir)
    {
        mdb = dir / "sample.mdb";
        fs::copy_file(samples() / "sample.mdb", mdb);
        foxFolder = dir / "fox";
        fs::copy(samples() / "FoxPro", foxFolder, fs::copy_options::recursive);
        dbc = foxFolder / "sample.dbc";
    }
};

std::unique_ptr<qm::ado::Connection> open(const fs::path& p)
{
    auto c = std::make_unique<qm::ado::Connection>();
    c->Open(qm::providers::connectionStringFor(p.string()));
    return c;
}

std::int64_t rowCount(qm::ado::Connection& c, const std::string& table)
{
    qm::ado::Recordset rs;
    rs.Open("SELECT * FROM [" + table + "]", c);
    std::int64_t n = 0;
    for (; !rs.Eof(); rs.MoveNext())
        ++n;
    return n;
}

// Rows of a .dbf as Debian's dbfread counts them.
int dbfreadCount(const fs::path& dbf)
{
    const auto r = qm::test::run({qm::test::kDebianPython, "-c",
                                  "import sys, dbfread\n"
                                  "print(len(list(dbfread.DBF(sys.argv[1], char_decode_errors='strict'))))",
                                  dbf.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.exitCode == 0 ? std::stoi(r.out) : -1;
}

class ScriptTest : public qm::test::AppTest {};

// Runs on copies of the sample databases, both open.
class ScriptRunTest : public qm::test::AppTest {
protected:
    ScriptRunTest() : db(scratch.path()), fox(open(db.dbc)), acc(open(db.mdb)) {}
    SampleCopies db;
    std::unique_ptr<qm::ado::Connection> fox, acc;
};

TEST_F(ScriptTest, LineIndexFollowsAppendsAndEdits)
{
    ScriptBuffer b;
    b.appendLine(u"insert into t values (1)");
    b.append(u"a\r");
    b.append(u"\nb\rc\n"); // the CR and LF of two appends make one line end
    ASSERT_EQ(b.lineCount(), 4);
    EXPECT_EQ(b.line(0), u"insert into t values (1)");
    EXPECT_EQ(b.line(1), u"a");
    EXPECT_EQ(b.line(2), u"b");
    EXPECT_EQ(b.line(3), u"c");

    QSignalSpy edited(&b, &ScriptBuffer::edited);
    // Joining lines, splitting one, and a CR that meets an LF.
    b.replace(b.lineStart(1) + 1, 2, u"");           // "a" + "b\rc\n"
    EXPECT_EQ(b.text(), u"insert into t values (1)\r\nab\rc\n");
    b.replace(b.lineStart(1) + 1, 0, u"\r");          // "a\rb\rc\n"
    b.replace(b.lineStart(1) + 1, 0, u"x\r\n");       // before the CR just typed
    const QString expected = QStringLiteral("insert into t values (1)\r\nax\r\n\rb\rc\n");
    EXPECT_EQ(b.text(), expected);
    EXPECT_EQ(edited.count(), 3);
    // The index after the edits is the one a fresh buffer builds.
    ScriptBuffer fresh;
    fresh.setText(expected);
    ASSERT_EQ(b.lineCount(), fresh.lineCount());
    for (qsizetype i = 0; i < fresh.lineCount(); ++i) {
        EXPECT_EQ(b.line(i), fresh.line(i)) << i;
        EXPECT_EQ(b.lineStart(i), fresh.lineStart(i)) << i;
    }
    EXPECT_EQ(b.lineAt(b.lineStart(2)), 2);
    b.replace(0, b.length(), u"");
    EXPECT_EQ(b.lineCount(), 0);
    EXPECT_TRUE(b.isEmpty());
}

TEST_F(ScriptTest, EditsAnywhereKeepTextAndLinesAsAFreshBufferHasThem)
{
    // Edits at random places (each moves the gap the buffer keeps at the
    // last edit), lines read in between, appends, all against a plain copy.
    ScriptBuffer b;
    QString model;
    std::uint32_t seed = 12345;
    auto rnd = [&](std::uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return n ? (seed >> 8) % n : 0;
    };
    const QString pieces[] = {"a", "\r\n", "\r", "\n", "xyz", "", "insert into t values (1)\r\n", "\r\n\r\n", QString(5000, 'q')};
    for (int step = 0; step < 3000; ++step) {
        if (step % 97 == 0) {
            b.appendLine(u"appended");
            model += "appended\r\n";
        }
        const qsizetype from = rnd(static_cast<std::uint32_t>(model.size() + 1));
        const qsizetype count = std::min<qsizetype>(rnd(4), model.size() - from);
        const QString& text = pieces[rnd(std::size(pieces))];
        b.replace(from, count, text);
        model.replace(from, count, text);
        ASSERT_EQ(b.length(), model.size());
        if (b.length() > 0) {
            const qsizetype probe = rnd(static_cast<std::uint32_t>(b.length()));
            ASSERT_EQ(b.at(probe), model[probe]) << step;
            (void)b.line(b.lineAt(probe));
        }
        if (step % 300 == 0 || step == 2999) {
            ScriptBuffer fresh;
            fresh.setText(model);
            ASSERT_EQ(b.lineCount(), fresh.lineCount()) << step;
            for (qsizetype i = 0; i < fresh.lineCount(); ++i) {
                ASSERT_EQ(b.lineStart(i), fresh.lineStart(i)) << step << " line " << i;
                ASSERT_EQ(b.line(i), fresh.line(i)) << step << " line " << i;
            }
            ASSERT_EQ(b.mid(3, 40), model.mid(3, 40));
            ASSERT_EQ(b.text(), model) << step;
        }
    }
}

TEST_F(ScriptTest, FreeTableCopyLinesAreRecognised)
{
    EXPECT_TRUE(IsFreeTableCopy("SELECT * INTO [dBase IV;DATABASE=/tmp/x;].[t] FROM `t`"));
    EXPECT_TRUE(IsFreeTableCopy("  select * into [FoxPro 3.0;database=C:\\data;].[Order Details] FROM `Order Details`"));
    EXPECT_TRUE(IsFreeTableCopy("SELECT * INTO [dBase III;DATABASE=/d;].[t] FROM t"));
    EXPECT_FALSE(IsFreeTableCopy("SELECT * INTO [t] FROM u"));
    EXPECT_FALSE(IsFreeTableCopy("insert into [t] (a) values ('SELECT * INTO [dBase IV;DATABASE=/x;].[t]')"));
    EXPECT_FALSE(IsFreeTableCopy("SELECT 'into [dBase IV;DATABASE=/x;]' FROM t"));
}

TEST_F(ScriptRunTest, RunsOnFoxProWithTheFreeTableLineOnAccess)
{
    const fs::path out = scratch / "free";
    fs::create_directory(out);
    const std::int64_t products = rowCount(*acc, "Products");
    const std::int64_t before = rowCount(*fox, "pricelist");

    ScriptBuffer script;
    for (int i = 0; i < 3000; ++i)
        script.appendLine(QStringLiteral("insert into [pricelist] (supplier,item,price,instock) values ('EXO','item %1',%1.25,%1)").arg(i));
    script.appendLine(QStringLiteral("SELECT * INTO [dBase IV;DATABASE=%1;].[prodcopy] FROM `Products`")
                          .arg(QString::fromStdString(out.string())));
    script.appendLine(u"insert into [nosuchtable] (a) values (1)");           // line 3002
    script.appendLine(u"insert into [pricelist] (supplier) values ('EXO', 'two')"); // line 3003
    script.appendLine(u"insert into [pricelist] (supplier,item) values ('TOK','last')");

    std::vector<qsizetype> progressed;
    const ScriptRunResult r = ExecuteScript(script, ScriptTarget::FoxPro, *fox, *acc,
                                            [&](qsizetype done, qsizetype units, qsizetype total) {
                                                EXPECT_LE(units, total);
                                                progressed.push_back(done);
                                                return true;
                                            });
    EXPECT_EQ(r.statements, 3004) << r.report().toStdString();
    EXPECT_EQ(r.failed, 2);
    ASSERT_EQ(r.firstFailures.size(), 2u);
    EXPECT_EQ(r.firstFailures[0].line, 3002);
    EXPECT_NE(r.firstFailures[0].message.indexOf(u"nosuchtable", 0, Qt::CaseInsensitive), -1) << r.report().toStdString();
    EXPECT_EQ(r.firstFailures[1].line, 3003);
    EXPECT_TRUE(r.report().startsWith(u"2 of 3004 statements failed.")) << r.report().toStdString();
    EXPECT_NE(r.report().indexOf(u"Line 3003"), -1);
    ASSERT_FALSE(progressed.empty());
    EXPECT_EQ(progressed.back(), 3004);
    EXPECT_TRUE(std::is_sorted(progressed.begin(), progressed.end()));

    // What succeeded stays, before and after the failures.
    fox.reset();
    acc.reset();
    fox = open(db.dbc);
    EXPECT_EQ(rowCount(*fox, "pricelist"), before + 3001);
    fox.reset();
    QM_REQUIRE_PROGRAM(qm::test::kDebianPython);
    EXPECT_EQ(dbfreadCount(db.foxFolder / "pricelist.dbf"), before + 3001);
    EXPECT_EQ(dbfreadCount(out / "prodcopy.dbf"), products);
}

TEST_F(ScriptRunTest, RunsOnAccessAndStatementsMaySpanLines)
{
    const std::int64_t before = rowCount(*acc, "Customers");
    ScriptBuffer script;
    script.appendLine(u"insert into [Customers] (Company, City)");
    script.appendLine(u"values ('Two lines', 'Graz')");
    script.appendLine(u"");
    script.appendLine(u"insert into [Customers] (Company) values ('it''s here'); insert into [Customers] (Company) values ('3')");
    script.appendLine(u"CREATE TABLE [Fresh] ([ID] LONG, [Label] TEXT(20))");
    script.appendLine(u"insert into [Fresh] (ID, Label) values (1, 'one')");
    const ScriptRunResult r = ExecuteScript(script, ScriptTarget::Access, *fox, *acc);
    EXPECT_TRUE(r.ok()) << r.report().toStdString();
    EXPECT_EQ(r.statements, 5);
    acc.reset();

    QM_REQUIRE_PROGRAM("mdb-export");
    const auto customers = qm::test::run({"mdb-export", db.mdb.string(), "Customers"});
    ASSERT_EQ(customers.exitCode, 0) << customers.err;
    EXPECT_NE(customers.out.find("\"Two lines\""), std::string::npos);
    EXPECT_NE(customers.out.find("\"it's here\""), std::string::npos);
    EXPECT_EQ(std::count(customers.out.begin(), customers.out.end(), '\n'), before + 3 + 1);
    const auto fresh = qm::test::run({"mdb-export", db.mdb.string(), "Fresh"});
    EXPECT_EQ(fresh.out, "ID,Label\n1,\"one\"\n");
}

TEST_F(ScriptRunTest, LongScriptsKeepStatementsWholeAndLinesRight)
{
    // Well over a million characters, so the run takes the script in
    // several pieces; every statement spans two lines and some share one.
    const std::int64_t before = rowCount(*fox, "pricelist");
    ScriptBuffer script;
    const int n = 24000;
    for (int i = 0; i < n; ++i) {
        script.appendLine(QStringLiteral("insert into pricelist (supplier,item,instock)"));
        script.appendLine(QStringLiteral("values ('EXO','row %1 %2',%1); insert into pricelist (supplier) values ('TOK')")
                              .arg(i)
                              .arg(QString(20, QLatin1Char('x'))));
    }
    script.appendLine(u"insert into nowhere (a) values (1)");
    ASSERT_GT(script.length(), 2'000'000);
    const ScriptRunResult r = ExecuteScript(script, ScriptTarget::FoxPro, *fox, *acc);
    EXPECT_EQ(r.statements, 2 * n + 1);
    ASSERT_EQ(r.failed, 1) << r.report().toStdString();
    EXPECT_EQ(r.firstFailures[0].line, 2 * n + 1);
    EXPECT_EQ(rowCount(*fox, "pricelist"), before + 2 * n);
}

TEST_F(ScriptRunTest, StoppingEndsAfterTheStatementInHand)
{
    const std::int64_t before = rowCount(*fox, "pricelist");
    ScriptBuffer script;
    for (int i = 0; i < 10000; ++i)
        script.appendLine(QStringLiteral("insert into pricelist (supplier,item) values ('EXO','%1')").arg(i));
    const ScriptRunResult r =
        ExecuteScript(script, ScriptTarget::FoxPro, *fox, *acc, [](qsizetype, qsizetype, qsizetype) { return false; });
    EXPECT_GT(r.statements, 0);
    EXPECT_LT(r.statements, 10000);
    EXPECT_EQ(rowCount(*fox, "pricelist"), before + r.statements);
}

TEST_F(ScriptRunTest, LinesAppendedWhileItRunsAreRunToo)
{
    // The window lets messages through during a run; a transfer may add to
    // the script then.  The buffer grows (and moves) under the run.
    const std::int64_t before = rowCount(*fox, "pricelist");
    ScriptBuffer script;
    for (int i = 0; i < 5000; ++i)
        script.appendLine(QStringLiteral("insert into pricelist (supplier,item) values ('EXO','%1')").arg(i));
    bool added = false;
    const ScriptRunResult r = ExecuteScript(script, ScriptTarget::FoxPro, *fox, *acc, [&](qsizetype, qsizetype, qsizetype) {
        if (!added)
            for (int i = 0; i < 20000; ++i)
                script.appendLine(u"insert into pricelist (supplier,item) values ('TOK','late')");
        added = true;
        return true;
    });
    EXPECT_TRUE(r.ok()) << r.report().toStdString();
    EXPECT_EQ(r.statements, 25000);
    EXPECT_EQ(rowCount(*fox, "pricelist"), before + 25000);
}

TEST_F(ScriptRunTest, AClosedConnectionFailsEveryStatementItWouldRun)
{
    qm::ado::Connection closed; // never opened
    ScriptBuffer script;
    script.appendLine(u"insert into pricelist (supplier) values ('EXO')");
    script.appendLine(u"insert into pricelist (supplier) values ('TOK')");
    const ScriptRunResult r = ExecuteScript(script, ScriptTarget::FoxPro, closed, *acc);
    EXPECT_EQ(r.statements, 2);
    EXPECT_EQ(r.failed, 2);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.report().startsWith("2 of 2 statements failed.\r\nLine 1: The FoxPro database is not open: "))
        << r.report().toStdString();
}

} // namespace

// ---- the window ----

#include "dataaccess/connectionstrings.h"
#include "sqlwindow/form4.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {

class Form4Test : public qm::test::AppTest {
protected:
    Form4Test() : db(scratch.path()) { useFields(true); }
    ~Form4Test() override { qm::dataaccess::SetConnectionFieldsSource({}); }

    // The connection window's fields, pointing at the copies.
    void useFields(bool container, const QString& dbcPath = {})
    {
        qm::dataaccess::ConnectionFields f;
        f.option1 = container;
        f.text1 = dbcPath.isEmpty() ? qm::test::qs(db.dbc) : dbcPath;
        f.text2 = qm::test::qs(db.foxFolder);
        f.text3 = qm::test::qs(db.mdb);
        qm::dataaccess::SetConnectionFieldsSource([f] { return f; });
    }

    std::int64_t foxRows(const std::string& table)
    {
        auto fox = open(db.dbc);
        return rowCount(*fox, table);
    }

    SampleCopies db;
};

TEST_F(Form4Test, WindowAsTheUserFirstSeesIt)
{
    qm::sqlwindow::Form4 form;
    form.Form_Load();
    EXPECT_EQ(form.windowTitle(), "Quillmere");
    EXPECT_EQ(form.Frame1->title(), "SQL");
    EXPECT_EQ(form.PushButton1->text(), "Execute SQL On X");
    EXPECT_EQ(form.PushButton2->text(), "Copy SQL To Clipboard");
    EXPECT_EQ(form.Text1->parentWidget(), form.Frame1);
    EXPECT_EQ(form.Text1->geometry(), QRect(16, 20, 489, 173));
    EXPECT_EQ(form.PushButton1->geometry(), QRect(8, 220, 256, 27));
    EXPECT_EQ(form.PushButton2->geometry(), QRect(272, 220, 256, 27));
    EXPECT_TRUE(form.script().isEmpty());
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(Form4Test, ExecutesOnFoxProShowingProgressAndRoutesTheFreeTableLine)
{
    const fs::path out = scratch / "free";
    fs::create_directory(out);
    const std::int64_t before = foxRows("pricelist");
    qm::sqlwindow::Form4 form;
    form.Form_Load();
    form.show();
    int refills = 0;
    form.RefillLists = [&] { ++refills; };
    for (int i = 0; i < 5000; ++i)
        form.script().appendLine(QStringLiteral("insert into [pricelist] (supplier,item,instock) values ('GRA','n%1',%1)").arg(i));
    form.script().appendLine(QStringLiteral("SELECT * INTO [dBase IV;DATABASE=%1;].[products] FROM `Products`")
                                 .arg(qm::test::qs(out)));
    form.PushButton1->setText("Execute SQL On FoxPro");

    QStringList seen;
    dialogs.onDoEvents([&] {
        seen << form.lblStatus->text();
        EXPECT_TRUE(form.isExecuting());
        EXPECT_TRUE(form.Text1->isReadOnly());
        EXPECT_FALSE(form.PushButton1->isEnabled());
        EXPECT_TRUE(form.ProgressBar1->isVisible());
        EXPECT_EQ(form.MousePointer->kind(), qm::shell::PointerKind::Hourglass);
        // A second press while it runs starts nothing.
        form.PushButton1_Click();
    });
    QTest::mouseClick(form.PushButton1, Qt::LeftButton);
    dialogs.onDoEvents({});

    EXPECT_TRUE(dialogs.shown().empty()) << dialogs.messages().join(" | ").toStdString();
    EXPECT_EQ(refills, 1);
    EXPECT_EQ(form.lastRun().statements, 5001);
    // Shown before the first statement and at least once on the way.
    ASSERT_GE(seen.size(), 2) << seen.join(" | ").toStdString();
    EXPECT_EQ(seen[0], "Executing: 0 statements done");
    EXPECT_TRUE(seen[1].startsWith("Executing: ") && seen[1] != seen[0]) << seen.join(" | ").toStdString();
    EXPECT_FALSE(form.isExecuting());
    EXPECT_FALSE(form.Text1->isReadOnly());
    EXPECT_FALSE(form.ProgressBar1->isVisible());
    EXPECT_EQ(form.MousePointer->kind(), qm::shell::PointerKind::Default);
    EXPECT_EQ(form.lblStatus->text(), "5,001 lines");
    // The script is not changed by running it.
    EXPECT_EQ(form.script().lineCount(), 5001);
    EXPECT_EQ(foxRows("pricelist"), before + 5000);
    QM_REQUIRE_PROGRAM(qm::test::kDebianPython);
    auto acc = open(db.mdb);
    EXPECT_EQ(dbfreadCount(out / "products.dbf"), rowCount(*acc, "Products"));
}

TEST_F(Form4Test, PartialFailureOnAccessIsReportedOnceAndTheRestStays)
{
    qm::sqlwindow::Form4 form;
    int refills = 0;
    form.RefillLists = [&] { ++refills; };
    form.PushButton1->setText("Execute SQL On Access");
    form.script().appendLine(u"insert into [Customers] (Company) values ('first')");
    form.script().appendLine(u"insert into [Nowhere] (Company) values ('lost')");
    form.script().appendLine(u"insert into [Customers] (Company) values ('third')");
    form.PushButton1_Click();

    ASSERT_EQ(dialogs.shown().size(), 1u) << dialogs.messages().join(" | ").toStdString();
    const auto& box = dialogs.shown()[0];
    EXPECT_EQ(box.title, "Application Error");
    EXPECT_EQ(box.icon, qm::shell::Icon::Exclamation);
    EXPECT_TRUE(box.text.startsWith("1 of 3 statements failed.\r\nLine 2: ")) << box.text.toStdString();
    EXPECT_NE(box.text.indexOf("Nowhere"), -1);
    EXPECT_NE(box.text.indexOf("in Ferrowick2016/11/03.Form4.PushButton1_Click at line 50"), -1);
    EXPECT_EQ(refills, 1);
    EXPECT_EQ(form.lastRun().failed, 1);

    QM_REQUIRE_PROGRAM("mdb-export");
    const auto r = qm::test::run({"mdb-export", db.mdb.string(), "Customers"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\"first\""), std::string::npos);
    EXPECT_NE(r.out.find("\"third\""), std::string::npos);
}

TEST_F(Form4Test, StatementsNestedTooDeeplyFailAloneOnBothDatabases)
{
    // 100,000 parentheses, a 200,000-term sum: an error for the first, a
    // result for the second, and the rest of the script runs.
    const QString parens = QString("(").repeated(100000) + "1" + QString(")").repeated(100000);
    QString sum = "1";
    sum.reserve(400000);
    for (int i = 1; i < 200000; ++i) sum += "+1";
    const std::int64_t before = foxRows("pricelist");
    for (const bool fox : {true, false}) {
        dialogs.clearRecord();
        qm::sqlwindow::Form4 form;
        form.RefillLists = [] {};
        form.PushButton1->setText(fox ? "Execute SQL On FoxPro" : "Execute SQL On Access");
        const QString table = fox ? "pricelist" : "[Customers]";
        const QString column = fox ? "supplier" : "Company";
        form.script().appendLine(QString("insert into ") + table + " (" + column + ") values ('EXO')");
        form.script().appendLine(QString("select ") + parens + " from " + table);
        form.script().appendLine(QString("select ") + sum + " from " + table);
        form.script().appendLine(QString("insert into ") + table + " (" + column + ") values ('TOK')");
        const QString text = form.script().text();
        form.PushButton1_Click();

        ASSERT_EQ(dialogs.shown().size(), 1u) << dialogs.messages().join(" | ").toStdString();
        const QString box = dialogs.shown()[0].text;
        EXPECT_TRUE(box.startsWith("1 of 4 statements failed.\r\nLine 2: ")) << box.toStdString();
        EXPECT_NE(box.indexOf("line 2, column 264"), -1) << box.toStdString();
        EXPECT_NE(box.indexOf("nests more than 256 levels deep"), -1) << box.toStdString();
        EXPECT_EQ(form.lastRun().failed, 1);
        EXPECT_EQ(form.script().text(), text); // the script stays as it was
    }
    EXPECT_EQ(foxRows("pricelist"), before + 2);
}

TEST_F(Form4Test, UnknownCaptionRunsNothingButTheListsAreReadAgain)
{
    const std::int64_t before = foxRows("pricelist");
    qm::sqlwindow::Form4 form;
    int refills = 0;
    form.RefillLists = [&] { ++refills; };
    form.script().appendLine(u"insert into [pricelist] (supplier) values ('EXO')");
    form.PushButton1_Click();
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, "Form4.Pushbutton1.Caption Error please email screenshot to support@quillmere.app");
    EXPECT_EQ(dialogs.shown()[0].icon, qm::shell::Icon::None);
    EXPECT_EQ(dialogs.shown()[0].buttons, qm::shell::Buttons::OK);
    EXPECT_EQ(refills, 1);
    EXPECT_EQ(foxRows("pricelist"), before);
}

TEST_F(Form4Test, EmptyScriptAndUnopenableDatabaseAreReported)
{
    qm::sqlwindow::Form4 form;
    int refills = 0;
    form.RefillLists = [&] { ++refills; };
    form.PushButton1->setText("Execute SQL On FoxPro");
    form.PushButton1_Click();
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_TRUE(dialogs.shown()[0].text.startsWith("Command text was not set for the command object.\r\n"));

    // The FoxPro container is missing: reported although the script is
    // meant for Access, which still runs it.
    dialogs.clearRecord();
    useFields(true, qm::test::qs(scratch / "missing.dbc"));
    form.PushButton1->setText("Execute SQL On Access");
    form.script().appendLine(u"insert into [Customers] (Company) values ('still')");
    form.PushButton1_Click();
    ASSERT_EQ(dialogs.shown().size(), 1u) << dialogs.messages().join(" | ").toStdString();
    EXPECT_NE(dialogs.shown()[0].text.indexOf("Form4.PushButton1_Click at line 30"), -1);
    EXPECT_TRUE(form.lastRun().ok());
    EXPECT_EQ(form.lastRun().statements, 1);
    EXPECT_EQ(refills, 2);
}

TEST_F(Form4Test, CopiesTheWholeScriptToTheClipboard)
{
    qm::sqlwindow::Form4 form;
    form.script().appendLine(u"insert into [a] (x) values ('é')");
    form.script().appendLine(u"DROP TABLE [b]");
    QTest::mouseClick(form.PushButton2, Qt::LeftButton);
    EXPECT_EQ(dialogs.clipboardText(), QStringLiteral("insert into [a] (x) values ('é')\r\nDROP TABLE [b]\r\n"));
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(Form4Test, TypingEditsTheScriptItself)
{
    qm::sqlwindow::Form4 form;
    form.show();
    QApplication::setActiveWindow(&form);
    form.Text1->setFocus();
    form.script().appendLine(u"DROP TABLE [a]");
    QCoreApplication::processEvents();
    ScriptEditor* e = form.Text1;

    // To the end, a new line, a statement with a typo mended by backspace.
    QTest::keyClick(e, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(e, "DROP TABLE [bb");
    QTest::keyClick(e, Qt::Key_Backspace);
    QTest::keyClicks(e, "]");
    EXPECT_EQ(form.script().text(), "DROP TABLE [a]\r\nDROP TABLE [b]");
    // Up keeps the column; Home, shift+End selects the line; copy it.
    QTest::keyClick(e, Qt::Key_Up);
    EXPECT_EQ(e->caretLine(), 0);
    QTest::keyClick(e, Qt::Key_Home);
    QTest::keyClick(e, Qt::Key_End, Qt::ShiftModifier);
    EXPECT_EQ(e->selectedText(), "DROP TABLE [a]");
    QTest::keyClick(e, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(dialogs.clipboardText(), "DROP TABLE [a]");
    // Enter at the end of the first line, paste text with bare line feeds.
    QTest::keyClick(e, Qt::Key_End);
    QTest::keyClick(e, Qt::Key_Return);
    dialogs.setClipboardText("x\ny");
    QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(form.script().text(), "DROP TABLE [a]\r\nx\r\ny\r\nDROP TABLE [b]");
    EXPECT_EQ(form.script().lineCount(), 4);
    // Delete at the end of a line joins it with the next.
    QTest::keyClick(e, Qt::Key_Delete);
    EXPECT_EQ(form.script().line(2), u"yDROP TABLE [b]");
    // Undo twice: the join, then the paste.
    QTest::keyClick(e, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(e, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(form.script().text(), "DROP TABLE [a]\r\n\r\nDROP TABLE [b]");
    // A click puts the caret where it lands; a drag selects.
    const QFontMetrics fm(e->font());
    const int lh = fm.lineSpacing(), cw = fm.horizontalAdvance(QLatin1Char('M'));
    QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, QPoint(3 + 5 * cw, 2 * lh + lh / 2));
    EXPECT_EQ(e->caretLine(), 2);
    EXPECT_EQ(e->caretColumn(), 5);
    QTest::mousePress(e->viewport(), Qt::LeftButton, {}, QPoint(2, lh / 2));
    QMouseEvent drag(QEvent::MouseMove, QPointF(3 + 4 * cw, lh / 2), e->viewport()->mapToGlobal(QPointF(3 + 4 * cw, lh / 2)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(e->viewport(), &drag);
    QTest::mouseRelease(e->viewport(), Qt::LeftButton, {}, QPoint(3 + 4 * cw, lh / 2));
    EXPECT_EQ(e->selectedText(), "DROP");
    // While a run holds the script, typing changes nothing.
    e->setReadOnly(true);
    QTest::keyClicks(e, "zz");
    EXPECT_EQ(form.script().text(), "DROP TABLE [a]\r\n\r\nDROP TABLE [b]");
}

TEST_F(Form4Test, ALongScriptScrollsToItsEndAndTakesEdits)
{
    // The view keeps up with a long script without holding a copy of it:
    // the last line can be reached and edited.
    qm::sqlwindow::Form4 form;
    form.show();
    for (int i = 0; i < 200000; ++i)
        form.script().appendLine(u"insert into [t] (a) values (1)");
    QCoreApplication::processEvents();
    ScriptEditor* e = form.Text1;
    e->setFocus();
    QTest::keyClick(e, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(e->caretLine(), 200000);
    EXPECT_GE(e->firstVisibleLine() + e->visibleLines(), 200000);
    QTest::keyClick(e, Qt::Key_Backspace);
    EXPECT_EQ(form.script().lineCount(), 200000);
    EXPECT_FALSE(form.script().text().endsWith("\r\n"));
    QTest::keyClick(e, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(e->firstVisibleLine(), 0);
    EXPECT_EQ(form.lblStatus->text(), "200,000 lines");
}

} // namespace
