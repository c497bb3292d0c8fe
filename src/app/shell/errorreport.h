// How an event procedure reports a failing statement and goes on.
//
// Every event procedure runs its statements through one ErrorHandler named
// after the procedure ("Form1.PushButton3_Click").  Each statement carries a
// line number (10, 20, 30... in the order the statements appear); when one
// throws, the handler shows the ProcedureErrorReport box naming the
// procedure and that line, and the procedure continues with the next
// statement, so a failure in one row or one table does not end an operation.
//
//     ErrorHandler h("Form1.PushButton6_Click");
//     h.run(10, [&] { MsgBox("..."); });
//
// Module procedures have no handler of their own: what they throw ends them
// and is reported by the statement of the event procedure that called them.
#pragma once

#include <QString>

#include <exception>
#include <utility>

namespace qm::shell {

// Where users send the screenshot of an error report.
inline constexpr const char* kSupportAddress = "support@quillmere.app";

// The text of the report box:
//   description CR LF "in Ferrowick2016/11/03." location " at line " N CR CR
//   "Please email screenshot of this message to " address
// and, when sql is given (the transfers), CR CR "sql: " sql.
QString ProcedureErrorReportText(const QString& description, const QString& location, int line,
                                 const QString* sql = nullptr);

// Shows the report box: title "Application Error", exclamation icon, OK.
void ProcedureErrorReport(const QString& description, const QString& location, int line,
                          const QString* sql = nullptr);

// The description of whatever was thrown, as the report shows it.
QString describeException(std::exception_ptr e);

class ErrorHandler {
public:
    explicit ErrorHandler(QString location) : location_(std::move(location)) {}

    // The transfers name the statement they built last in their reports:
    // the handler reads the variable at the moment it reports.
    void reportSqlFrom(const QString* lastStatement) { sql_ = lastStatement; }

    // Runs one statement.  True when it completed; false when it failed and
    // was reported.
    template <class Statement>
    bool run(int line, Statement&& statement)
    {
        try {
            statement();
            return true;
        } catch (...) {
            report(line, std::current_exception());
            return false;
        }
    }

    const QString& location() const { return location_; }
    int failures() const { return failures_; }

private:
    void report(int line, std::exception_ptr e);

    QString location_;
    const QString* sql_ = nullptr;
    int failures_ = 0;
};

} // namespace qm::shell
