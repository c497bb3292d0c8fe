#include "dataaccess/access.h"

#include "ado/ado.h"
#include "dataaccess/objectlist.h"
#include "shell/addfolder.h"
#include "shell/dialogs.h"
#include "shell/errorreport.h"
#include "storage/storage.h"
#include "value/value.h"

#include <memory>

namespace qm::dataaccess {

namespace {

std::string utf8(const QString& s) { return s.toStdString(); }
QString text(const Value& v) { return v.isNull() ? QString() : QString::fromStdString(v.toString()); }

// A connection to the database the connection string names, opened as the
// module's procedures open theirs.
std::unique_ptr<ado::Connection> openAccess(const QString& connectionString)
{
    auto connection = std::make_unique<ado::Connection>();
    connection->Open(utf8(connectionString));
    return connection;
}

// Leading and trailing spaces off, as the stored SQL is shown; line ends stay.
QString trimSpaces(const QString& s)
{
    qsizetype from = 0, to = s.size();
    while (from < to && s[from] == QLatin1Char(' '))
        ++from;
    while (to > from && s[to - 1] == QLatin1Char(' '))
        --to;
    return s.mid(from, to - from);
}

} // namespace

QString QuotedName(const QString& name)
{
    if (!name.contains(QLatin1Char('`')))
        return QLatin1Char('`') + name + QLatin1Char('`');
    if (!name.contains(QLatin1Char(']')))
        return QLatin1Char('[') + name + QLatin1Char(']');
    throw qm::Error("The name " + utf8(name) +
                    " holds both a backquote and a closing bracket, so no statement can name it");
}

std::optional<CatalogRows> NonSystemTables(const QString& path)
{
    if (!shell::PathExists(path))
        return std::nullopt;
    CatalogRows rows;
    shell::ErrorHandler h(QStringLiteral("Access.NonSystemTables"));
    std::unique_ptr<ado::Connection> connection;
    std::unique_ptr<ado::Recordset> schema;
    // A database that won't open (a wrong password, a damaged file) is
    // reported once, and the listing ends with nothing in it.
    if (!h.run(10, [&] { connection = openAccess(AccessConnectionString(QString(), QString())); }))
        return rows;
    if (!h.run(20, [&] { schema = connection->OpenSchema(ado::adSchemaTables); }))
        return rows;
    h.run(30, [&] {
        while (!schema->Eof()) {
            const QString type = text(schema->Fields("TABLE_TYPE").GetValue());
            if (type == kKindTable || type == kKindView) {
                rows.names.append(text(schema->Fields("TABLE_NAME").GetValue()));
                rows.kinds.append(type);
            }
            schema->MoveNext();
        }
    });
    h.run(40, [&] {
        schema->Close();
        connection->Close();
    });
    return rows;
}

void FillAccessList(ObjectList& list, const QString& path)
{
    std::optional<CatalogRows> rows = NonSystemTables(path);
    if (!rows) {
        shell::MsgBox(QStringLiteral("Unable to access the database."));
    } else {
        // One model reset for the whole catalog: the list view repaints
        // once, however many thousand names there are.
        shell::DoEvents();
        list.setRows(rows->names, rows->kinds);
    }
    if (list.ListCount() > 0)
        list.setListIndex(0);
}

bool AccessTableExists(const QString& path, const QString& password, const QString& name)
{
    if (!shell::PathExists(path))
        return false;
    auto connection = openAccess(AccessConnectionString(path, password));
    auto schema = connection->OpenSchema(ado::adSchemaTables);
    bool found = false;
    const QString wanted = name.toUpper();
    while (!schema->Eof()) {
        if (text(schema->Fields("TABLE_TYPE").GetValue()) == kKindTable &&
            text(schema->Fields("TABLE_NAME").GetValue()).toUpper() == wanted)
            found = true;
        schema->MoveNext();
    }
    schema->Close();
    connection->Close();
    return found;
}

bool RenameAccessTable(const QString& oldName, const QString& newName, const QString& path,
                       const QString& password)
{
    // The same name: there is nothing to rename, and above all nothing to
    // overwrite.
    if (newName == oldName)
        return false;
    const bool sameTable = storage::namesEqual(utf8(newName), utf8(oldName));
    if (!sameTable && AccessTableExists(path, password, newName)) {
        if (shell::MsgBox(QStringLiteral("Would you like to overwrite ") + newName + QStringLiteral("?"),
                          shell::Buttons::YesNo, shell::Icon::None,
                          QStringLiteral("Overwrite?")) != shell::Answer::Yes)
            return false;
        auto connection = openAccess(AccessConnectionString(path, password));
        connection->Execute(utf8(QStringLiteral("DROP TABLE ") + QuotedName(newName)));
        connection->Close();
    }
    // In place: the table keeps everything it has, only its name changes.
    auto connection = openAccess(AccessConnectionString(path, password));
    ado::Catalog catalog;
    catalog.ActiveConnection(connection.get());
    catalog.RenameTable(utf8(oldName), utf8(newName));
    catalog.ActiveConnection(nullptr);
    connection->Close();
    return true;
}

void RenameAccessObject(const QString& oldName, const QString& newName, const QString&, const QString&)
{
    auto connection = openAccess(AccessConnectionString(QString(), QString()));
    ado::Catalog catalog;
    catalog.ActiveConnection(connection.get());
    catalog.RenameTable(utf8(oldName), utf8(newName));
    connection->Close();
    catalog.ActiveConnection(nullptr);
}

void CreateAccessQuery(const QString& name, const QString& sql)
{
    const ConnectionFields fields = ConnectionWindowFields();
    auto db = ado::DaoEngine::instance().OpenDatabase(utf8(fields.text3), utf8(fields.text4));
    db->CreateQueryDef(utf8(name), utf8(sql));
    db->Close();
}

QString AccessQuerySQL(const QString& name)
{
    const ConnectionFields fields = ConnectionWindowFields();
    auto db = ado::DaoEngine::instance().OpenDatabase(utf8(fields.text3), utf8(fields.text4));
    const QString sql = trimSpaces(QString::fromStdString(db->QueryDefSQL(utf8(name))));
    db->Close();
    return sql;
}

} // namespace qm::dataaccess
