#include "dataaccess/connectionstrings.h"

#include "value/value.h"

namespace qm::dataaccess {

namespace {

std::function<ConnectionFields()>& fieldsSource()
{
    static std::function<ConnectionFields()> source;
    return source;
}

bool isBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

} // namespace

void SetConnectionFieldsSource(std::function<ConnectionFields()> source) { fieldsSource() = std::move(source); }

ConnectionFields ConnectionWindowFields()
{
    const auto& source = fieldsSource();
    if (!source)
        throw qm::Error("The connection window is not open, so there are no connection settings to use.");
    return source();
}

QString ConnectionStringValue(const QString& value)
{
    if (value.isEmpty())
        return value;
    const bool needsQuotes = value.contains(QLatin1Char(';')) || value.front() == QLatin1Char('"') ||
                             value.front() == QLatin1Char('\'') || isBlank(value.front()) || isBlank(value.back());
    if (!needsQuotes)
        return value;
    QString inner = value;
    inner.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

QString FoxProConnectionString(const ConnectionFields& fields)
{
    if (fields.option1)
        return QStringLiteral("Provider=vfpoledb.1;Data Source=") + ConnectionStringValue(fields.text1) +
               QStringLiteral(";Collating Sequence=machine;");
    return QStringLiteral("Provider=vfpoledb.1;Data Source=") + ConnectionStringValue(fields.text2) +
           QStringLiteral(";Collating Sequence=general;");
}

QString FoxProConnectionString() { return FoxProConnectionString(ConnectionWindowFields()); }

QString AccessConnectionString(const QString& path, const QString& password, const ConnectionFields& fields)
{
    QString p = path;
    QString pw = password;
    if (p.isEmpty()) {
        p = fields.text3;
        pw = fields.text4;
    }
    const QString tail = QStringLiteral("Data Source=") + ConnectionStringValue(p) +
                         QStringLiteral(";JET OLEDB:Database Password=") + ConnectionStringValue(pw);
    if (p.right(5).toLower() == QLatin1String("accdb"))
        return QStringLiteral("Provider=Microsoft.ACE.OLEDB.12.0;") + tail;
    return QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;") + tail;
}

QString AccessConnectionString(const QString& path, const QString& password)
{
    // The window is only consulted when the path is empty.
    if (!path.isEmpty())
        return AccessConnectionString(path, password, ConnectionFields{});
    return AccessConnectionString(path, password, ConnectionWindowFields());
}

} // namespace qm::dataaccess
