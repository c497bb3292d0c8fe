// The error report and the handler that runs a procedure's statements: a
// failing statement is reported with its procedure and line, and the
// procedure goes on with the next one.

#include "app_test.h"
#include "shell/errorreport.h"

#include <stdexcept>

using namespace qm::shell;

namespace {

class ErrorReport : public qm::test::AppTest {};

TEST_F(ErrorReport, TextNamesProcedureLineAndSupportAddress)
{
    EXPECT_EQ(ProcedureErrorReportText("File not found", "Form2.PushButton3_Click", 30),
              "File not found\r\nin Ferrowick2016/11/03.Form2.PushButton3_Click at line 30\r\r"
              "Please email screenshot of this message to support@quillmere.app");
    const QString sql = "insert into [Orders] (ID) values (1)";
    EXPECT_EQ(ProcedureErrorReportText("Overflow", "Form2.PushButton4_Click", 120, &sql),
              "Overflow\r\nin Ferrowick2016/11/03.Form2.PushButton4_Click at line 120\r\r"
              "Please email screenshot of this message to support@quillmere.app\r\r"
              "sql: insert into [Orders] (ID) values (1)");
}

TEST_F(ErrorReport, AFailingStatementIsReportedAndTheNextOneRuns)
{
    std::vector<int> ran;
    ErrorHandler h("Form1.PushButton3_Click");
    EXPECT_TRUE(h.run(10, [&] { ran.push_back(10); }));
    EXPECT_FALSE(h.run(20, [&] {
        ran.push_back(20);
        throw qm::Error("Table 'Orders' row 7: value 'x' is not a number");
        ran.push_back(21);
    }));
    EXPECT_TRUE(h.run(30, [&] { ran.push_back(30); }));

    EXPECT_EQ(ran, (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(h.failures(), 1);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    const auto& box = dialogs.shown()[0];
    EXPECT_EQ(box.title, "Application Error");
    EXPECT_EQ(box.icon, Icon::Exclamation);
    EXPECT_EQ(box.buttons, Buttons::OK);
    EXPECT_TRUE(box.text.startsWith("Table 'Orders' row 7: value 'x' is not a number\r\n"
                                    "in Ferrowick2016/11/03.Form1.PushButton3_Click at line 20\r\r"))
        << box.text.toStdString();
}

TEST_F(ErrorReport, AnyKindOfFailureIsReported)
{
    ErrorHandler h("Module.Procedure");
    h.run(10, [] { throw std::out_of_range("index 5 is past the end"); });
    h.run(20, [] { throw 42; });
    h.run(30, [] { throw std::runtime_error(""); });
    const QStringList m = dialogs.messages();
    ASSERT_EQ(m.size(), 3);
    EXPECT_TRUE(m[0].startsWith("index 5 is past the end\r\n"));
    EXPECT_TRUE(m[1].startsWith("Unexpected failure of an unknown kind\r\n"));
    EXPECT_TRUE(m[2].startsWith("Unexpected failure\r\n"));
    EXPECT_TRUE(m[2].contains("Module.Procedure at line 30"));
}

TEST_F(ErrorReport, TheTransfersNameTheStatementTheyBuiltLast)
{
    QString last;
    ErrorHandler h("Form2.PushButton3_Click");
    h.reportSqlFrom(&last);
    last = "insert into [A] (x) values (1)";
    h.run(10, [] { throw qm::Error("first"); });
    last = "insert into [A] (x) values (2)";
    h.run(20, [] { throw qm::Error("second"); });
    const QStringList m = dialogs.messages();
    ASSERT_EQ(m.size(), 2);
    EXPECT_TRUE(m[0].endsWith("\r\rsql: insert into [A] (x) values (1)"));
    EXPECT_TRUE(m[1].endsWith("\r\rsql: insert into [A] (x) values (2)"));
}

} // namespace
