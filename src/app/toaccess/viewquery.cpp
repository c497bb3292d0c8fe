#include "toaccess/viewquery.h"

namespace qm::toaccess {

namespace {

bool nameChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); }

} // namespace

QString AccessQueryText(const QString& viewSql)
{
    QString out;
    out.reserve(viewSql.size());
    qsizetype nameStart = -1; // where the name being read began in out
    QChar quote;              // the closing character of a quoted text
    for (qsizetype i = 0; i < viewSql.size(); ++i) {
        const QChar c = viewSql[i];
        if (!quote.isNull()) {
            out += c;
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
        } else if (c == QLatin1Char('[')) {
            quote = QLatin1Char(']');
        } else if (c == QLatin1Char('!') && nameStart >= 0 && i + 1 < viewSql.size() && nameChar(viewSql[i + 1])) {
            // container!table: the container's name goes, the table stays.
            out.truncate(nameStart);
            nameStart = -1;
            continue;
        }
        if (nameChar(c)) {
            if (nameStart < 0)
                nameStart = out.size();
        } else {
            nameStart = -1;
        }
        out += c;
    }
    return out;
}

} // namespace qm::toaccess
