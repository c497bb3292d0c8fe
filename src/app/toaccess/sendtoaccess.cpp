#include "toaccess/sendtoaccess.h"

#include "dataaccess/connectionstrings.h"
#include "dataaccess/globals.h"
#include "dataaccess/objectlist.h"
#include "mainwindow/transferhost.h"
#include "shell/dialogs.h"
#include "shell/errorreport.h"
#include "sql/translate.h"
#include "sqlwindow/scriptbuffer.h"
#include "toaccess/accesscolumns.h"
#include "toaccess/rowcopy.h"
#include "toaccess/viewquery.h"
#include "value/value.h"

#include <memory>
#include <optional>
#include <vector>

namespace qm::toaccess {

namespace {

using dataaccess::ObjectList;
using shell::Answer;

const QString kLocation = QStringLiteral("Form2.PushButton4_Click");

// True when some entry of the list equals the text, letter case ignored.
bool ListHasName(const ObjectList& list, const QString& text)
{
    for (int i = 0; i < list.ListCount(); ++i)
        if (list.List(i).compare(text, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// Removes the entries equal to the text, compared exactly.
void RemoveListName(ObjectList& list, const QString& text)
{
    for (int i = list.ListCount() - 1; i >= 0; --i)
        if (list.List(i) == text)
            list.RemoveItem(i);
}

std::string utf8(const QString& s) { return s.toUtf8().toStdString(); }

// The fields of the source recordset, with FoxPro's Float fields told apart
// from its Numeric ones (both arrive as adNumeric).
std::vector<SourceField> SourceFields(ado::Recordset& source, ado::Connection& foxpro, const QString& table)
{
    std::vector<storage::ColumnDef> defs;
    try {
        defs = foxpro.session().database().columns(utf8(table));
    } catch (const std::exception&) {
        // Not a plain table: every numeric field counts as Numeric.
    }
    std::vector<SourceField> fields;
    for (std::size_t f = 0; f < source.FieldCount(); ++f) {
        SourceField s;
        s.info = source.Fields(f).info();
        s.floatField = f < defs.size() && defs[f].type == storage::ColumnType::Float
                       && storage::namesEqual(defs[f].name, s.info.name);
        fields.push_back(std::move(s));
    }
    return fields;
}

// One report for the keys of a table that could not be carried, each named
// with the reason.
QString KeysNotCarriedText(const QString& table, const std::vector<storage::IndexRefusal>& refused)
{
    QString text = QStringLiteral("Table %1 was sent to the Access database without these of its keys:").arg(table);
    for (const storage::IndexRefusal& r : refused) {
        text += QStringLiteral("\n");
        if (!r.index.empty())
            text += QString::fromStdString(r.index) + QStringLiteral(": ");
        text += QString::fromStdString(r.reason);
    }
    return text;
}

class Run {
public:
    explicit Run(mainwindow::TransferHost& host) : host_(host), handler_(kLocation)
    {
        handler_.reportSqlFrom(&statement_);
    }

    void go();

private:
    enum Line {
        kOpenFoxPro = 50,
        kOpenAccess = 60,
        kDropExisting = 110,
        kOpenSource = 120,
        kReadFields = 130,
        kExecuteCreate = 140,
        kCopyRows = 150,
        kRowsRefused = 160,
        kRowsCounted = 170,
        kCarryKeys = 180,
        kReadView = 210,
        kStoreQuery = 220,
        kViewUntranslated = 230,
        kCloseAccess = 310,
        kCloseFoxPro = 320,
    };

    void view(const QString& name, Answer answer);
    // False when the customization window was left without "OK": the run ends.
    bool table(const QString& name, Answer answer, bool customised);
    void dropExisting(const QString& name);
    void copyRows(ado::Recordset& source, const QString& name, bool created, const ColumnRenames& renames);
    void carryKeys(const QString& name, const ColumnRenames& renames);
    void closeConnections();

    mainwindow::TransferHost& host_;
    shell::ErrorHandler handler_;
    QString statement_; // the CREATE TABLE statement built last
    ado::Connection foxpro_;
    ado::Connection access_;
};

void Run::go()
{
    ObjectList& foxList = host_.foxproList();
    if (foxList.ListIndex() == -1) {
        shell::MsgBox(QStringLiteral("Please select a table to send."));
        return;
    }
    host_.setPointer(mainwindow::kPointerHourglass);
    host_.setExecuteCaption(QStringLiteral("Execute SQL On Access"));

    foxpro_.CursorLocation = ado::adUseClient;
    const bool foxOpen = handler_.run(kOpenFoxPro, [&] { foxpro_.Open(utf8(dataaccess::FoxProConnectionString())); });
    access_.CursorLocation = ado::adUseServer;
    access_.Mode = ado::adModeReadWrite;
    const bool accessOpen = foxOpen && handler_.run(kOpenAccess, [&] {
        access_.Open(utf8(dataaccess::AccessConnectionString(QString(), QString())));
    });
    // Without both databases every step would fail the same way again: the
    // failure is reported once and the run ends.
    if (foxOpen && accessOpen) {
        for (int i = foxList.ListCount() - 1; i >= 0; --i) {
            if (!foxList.Selected(i))
                continue;
            const QString name = foxList.List(i);
            Answer answer = Answer::OK; // no question asked
            if (ListHasName(host_.accessList(), name))
                answer = shell::MsgBox(QStringLiteral("Would you like to overwrite ") + name + QStringLiteral("?"),
                                       shell::Buttons::YesNo, shell::Icon::None, QStringLiteral("Overwrite?"));
            if (answer == Answer::No)
                continue;
            if (foxList.kind(i) == dataaccess::kKindView) {
                view(name, answer);
            } else if (!table(name, answer, host_.check16() == 1)) {
                closeConnections();
                host_.setPointer(mainwindow::kPointerDefault);
                return;
            }
        }
    }
    host_.setPointer(mainwindow::kPointerDefault);
    closeConnections();
}

void Run::closeConnections()
{
    if (access_.State() != ado::adStateClosed)
        handler_.run(kCloseAccess, [&] { access_.Close(); });
    if (foxpro_.State() != ado::adStateClosed)
        handler_.run(kCloseFoxPro, [&] { foxpro_.Close(); });
}

// Takes away the Access table or saved query called name at once, so that
// the new one can take its place.
void Run::dropExisting(const QString& name)
{
    handler_.run(kDropExisting, [&] {
        storage::Database& db = access_.session().database();
        const auto entry = db.find(utf8(name));
        if (entry && (entry->kind == storage::ObjectKind::View || entry->kind == storage::ObjectKind::Query))
            db.dropView(entry->name);
        else
            access_.Execute(utf8(QStringLiteral("DROP TABLE `") + name + QStringLiteral("`")));
    });
    RemoveListName(host_.accessList(), name);
}

void Run::view(const QString& name, Answer answer)
{
    if (answer == Answer::Yes)
        dropExisting(name);
    std::string sql;
    std::string untranslated; // why the text stays in FoxPro's dialect
    const bool read = handler_.run(kReadView, [&] {
        ado::Catalog catalog;
        catalog.ActiveConnection(&foxpro_);
        const std::string text = catalog.ViewCommand(utf8(name)).CommandText;
        // A remote view's text is for the server it reads: stored in Access
        // it would read itself ("SELECT * FROM products" as "products").
        if (auto entry = foxpro_.session().database().find(utf8(name)); entry && !entry->connection.empty())
            throw Error(storage::remoteViewMessage(*entry));
        // The view's column types decide how its comparisons translate.
        const sql::TranslationResult translated =
            sql::translateQuery(text, sql::Dialect::FoxPro, sql::Dialect::Access, &foxpro_.session().database());
        if (translated.ok()) {
            sql = translated.sql;
        } else {
            sql = utf8(AccessQueryText(QString::fromStdString(text)));
            untranslated = translated.report();
        }
    });
    // Stored through the open Access connection, which was opened with the
    // database's password.  A view the translator refused keeps FoxPro's
    // text but for the container named before its tables, and the user is
    // told once what Access will not read in it.
    if (read) {
        const bool stored = handler_.run(kStoreQuery, [&] {
            try {
                access_.session().database().createView(utf8(name), sql);
            } catch (const ado::AdoError&) {
                throw;
            } catch (const std::exception& e) {
                throw ado::AdoError(e.what());
            }
        });
        if (stored && !untranslated.empty())
            handler_.run(kViewUntranslated, [&] {
                throw Error(utf8(QStringLiteral("The view %1 was stored in the Access database with its FoxPro text, "
                                                "which could not be translated:\n%2")
                                     .arg(name, QString::fromStdString(untranslated))));
            });
    }
    host_.accessList().AddItem(name, dataaccess::kKindView);
}

bool Run::table(const QString& name, Answer answer, bool customised)
{
    const QString opening = CreateTableOpening(name);
    // Dropping the old table, creating the new one, its rows and its keys
    // are one write batch: a run killed on the way leaves the Access file
    // as it was before this table, or with the table whole.
    std::optional<WriteBatch> batch;
    if (!customised) {
        batch.emplace(access_.session().database());
        if (answer == Answer::Yes)
            dropExisting(name);
    }

    ado::Recordset source;
    const bool opened = handler_.run(kOpenSource, [&] {
        source.Open(utf8(QStringLiteral("SELECT * FROM \"") + name + QStringLiteral("\"")), foxpro_);
    });

    QString statement = opening;
    if (customised) {
        dataaccess::CustomizeCancelled = dataaccess::kTrue;
        statement = host_.showCustomization(QStringLiteral("ACCESS"), name, opening);
        if (dataaccess::CustomizeCancelled == dataaccess::kTrue)
            return false;
        batch.emplace(access_.session().database());
        if (answer == Answer::Yes)
            dropExisting(name);
    }
    if (!opened) {
        // Nothing to create the table from and no rows to copy.
        host_.accessList().AddItem(name, dataaccess::kKindTable);
        return true;
    }
    ColumnRenames renames;
    if (statement == opening) {
        handler_.run(kReadFields, [&] {
            std::vector<SourceField> fields = SourceFields(source, foxpro_, name);
            std::vector<std::string> before;
            for (const SourceField& f : fields)
                before.push_back(f.info.name);
            MakeFieldNamesUnique(fields);
            renames = RenamedColumns(before, fields);
            for (const SourceField& f : fields) {
                shell::DoEvents();
                statement += ColumnDefinition(f);
            }
            statement = CloseCreateTable(statement);
        });
    }
    statement_ = statement;
    const bool created = handler_.run(kExecuteCreate, [&] { access_.Execute(utf8(statement_)); });
    copyRows(source, name, created, renames);
    handler_.run(kCopyRows, [&] { batch->end(); });
    if (source.State() != ado::adStateClosed)
        source.Close();
    host_.accessList().AddItem(name, dataaccess::kKindTable);
    return true;
}

void Run::copyRows(ado::Recordset& source, const QString& name, bool created, const ColumnRenames& renames)
{
    CopyPacer pacer([this](int percent) { host_.setProgress(percent); });
    CopyOutcome outcome;
    const bool copied = handler_.run(kCopyRows, [&] { outcome = CopyRows(source, access_, name, pacer); });
    if (!copied)
        pacer.finish();
    if (outcome.failed > 0) {
        // One report per table, however many rows were refused.
        handler_.run(kRowsRefused, [&] {
            throw Error(utf8(QStringLiteral("%1 of the %2 rows of table %3 could not be written to the Access database; the first, %4")
                                 .arg(outcome.failed)
                                 .arg(outcome.sourceRows)
                                 .arg(name, outcome.firstFailure)));
        });
    }
    if (!created)
        return;
    if (copied) {
        // What the file holds now, read back: a batch that could not be kept
        // whole is not passed over in silence.
        handler_.run(kRowsCounted, [&] {
            const auto stored = static_cast<std::int64_t>(access_.session().database().rowCount(utf8(name)));
            if (stored != outcome.copied)
                throw Error(utf8(QStringLiteral("Table %1 holds %2 rows in the Access database, but %3 were written.")
                                     .arg(name)
                                     .arg(stored)
                                     .arg(outcome.copied)));
        });
        carryKeys(name, renames);
    }
    host_.script().appendLine(CreatedTableNote(name, outcome.copied, outcome.sourceRows));
}

// The table's primary key and indexes, made once its rows are all in (the
// copy's write batch has ended): each is built in one pass.  What cannot be
// carried is named in one report for the table.
void Run::carryKeys(const QString& name, const ColumnRenames& renames)
{
    std::vector<storage::IndexRefusal> refused;
    handler_.run(kCarryKeys, [&] {
        refused = storage::carryIndexes(foxpro_.session().database(), utf8(name), access_.session().database(),
                                        utf8(name), renames);
    });
    if (refused.empty())
        return;
    handler_.run(kCarryKeys, [&] { throw Error(utf8(KeysNotCarriedText(name, refused))); });
}

} // namespace

QString CreatedTableNote(const QString& name, long long rowsCopied, long long rowsInSource)
{
    if (rowsCopied == rowsInSource)
        return QStringLiteral("-- table `%1` created with %2 rows").arg(name).arg(rowsCopied);
    return QStringLiteral("-- table `%1` created with %2 of its %3 rows").arg(name).arg(rowsCopied).arg(rowsInSource);
}

void SendTablesToAccess(mainwindow::TransferHost& host)
{
    Run(host).go();
}

} // namespace qm::toaccess
