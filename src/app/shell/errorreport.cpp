#include "shell/errorreport.h"

#include "shell/dialogs.h"

#include <stdexcept>

namespace qm::shell {

QString ProcedureErrorReportText(const QString& description, const QString& location, int line, const QString* sql)
{
    QString text = description + QStringLiteral("\r\n") + QStringLiteral("in Ferrowick2016/11/03.") + location +
                   QStringLiteral(" at line ") + QString::number(line) + QStringLiteral("\r\r") +
                   QStringLiteral("Please email screenshot of this message to ") + QString::fromLatin1(kSupportAddress);
    if (sql)
        text += QStringLiteral("\r\rsql: ") + *sql;
    return text;
}

void ProcedureErrorReport(const QString& description, const QString& location, int line, const QString* sql)
{
    Dialogs().messageBox(ProcedureErrorReportText(description, location, line, sql), Buttons::OK, Icon::Exclamation,
                         QStringLiteral("Application Error"));
}

QString describeException(std::exception_ptr e)
{
    try {
        std::rethrow_exception(e);
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& ex) {
        // Our errors carry UTF-8 text meant for the user.
        const QString what = QString::fromUtf8(ex.what());
        return what.isEmpty() ? QStringLiteral("Unexpected failure") : what;
    } catch (...) {
        return QStringLiteral("Unexpected failure of an unknown kind");
    }
}

void ErrorHandler::report(int line, std::exception_ptr e)
{
    ++failures_;
    ProcedureErrorReport(describeException(e), location_, line, sql_);
}

} // namespace qm::shell
