#include "dataaccess/foxpro.h"

#include "ado/ado.h"
#include "dataaccess/objectlist.h"
#include "shell/addfolder.h"
#include "shell/dialogs.h"
#include "shell/errorreport.h"
#include "value/value.h"

#include <QDir>

#include <memory>

namespace qm::dataaccess {

namespace {

QString text(const Value& v) { return v.isNull() ? QString() : QString::fromStdString(v.toString()); }

// The container's catalog: yielding once per row as the rows are read
// would repaint far more often than anyone can see; this often is enough.
constexpr int kRowsPerYield = 256;

} // namespace

bool TestFoxProConnection(QString* why)
{
    try {
        ado::Connection connection;
        connection.CursorLocation = ado::adUseServer;
        connection.Open(FoxProConnectionString().toStdString());
        return true;
    } catch (...) {
        if (why)
            *why = shell::describeException(std::current_exception());
        return false;
    }
}

void FillFoxProList(ObjectList& list, const QString& connectionString)
{
    const ConnectionFields fields = ConnectionWindowFields();
    ado::Connection connection;
    connection.Open(connectionString.toStdString());
    list.Clear();
    QStringList names, kinds;
    if (!fields.option1) {
        // The folder and every folder below it, level by level.
        QStringList folders{QDir::toNativeSeparators(fields.text2) + QDir::separator()};
        shell::AddSubFolders(folders, true);
        for (const QString& withSeparator : folders) {
            const QString folder = withSeparator.left(withSeparator.size() - 1);
            for (const QString& file : shell::ListFiles(folder, QStringLiteral("*.dbf"))) {
                if (file.startsWith(QLatin1Char('~')))
                    continue;
                const QString full = folder + QDir::separator() + file;
                if (!full.toLower().contains(QLatin1String("dbf")))
                    continue;
                names.append(file.left(file.size() - 4));
                kinds.append(kKindTable);
            }
        }
        list.setRows(names, kinds);
        return;
    }
    auto schema = connection.OpenSchema(ado::adSchemaTables);
    int row = 0;
    while (!schema->Eof()) {
        if (row++ % kRowsPerYield == 0)
            shell::DoEvents();
        const QString type = text(schema->Fields("TABLE_TYPE").GetValue());
        if (type == kKindTable || type == kKindView) {
            names.append(text(schema->Fields("TABLE_NAME").GetValue()));
            kinds.append(type);
        }
        schema->MoveNext();
    }
    list.setRows(names, kinds);
    schema->Close();
    if (connection.State() != ado::adStateClosed)
        connection.Close();
}

QString FoxProViewSQL(const QString& viewName)
{
    ado::Connection connection;
    connection.Open(FoxProConnectionString().toStdString());
    ado::Catalog catalog;
    catalog.ActiveConnection(&connection);
    const ado::Command command = catalog.ViewCommand(viewName.toStdString());
    connection.Close();
    catalog.ActiveConnection(nullptr);
    return QString::fromStdString(command.CommandText);
}

} // namespace qm::dataaccess
