#include "tofoxpro/sendtofoxpro.h"

#include "ado/ado.h"
#include "dataaccess/connectionstrings.h"
#include "dataaccess/globals.h"
#include "dataaccess/objectlist.h"
#include "mainwindow/transferhost.h"
#include "shell/dialogs.h"
#include "shell/errorreport.h"
#include "sql/translate.h"
#include "sqlwindow/scriptbuffer.h"
#include "storage/storage.h"
#include "tofoxpro/listnames.h"
#include "tofoxpro/literals.h"

#include <QDir>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qm::tofoxpro {

using dataaccess::CustomizeCancelled;
using dataaccess::FieldSizes;
using dataaccess::FieldTypes;
using shell::Answer;
using shell::Buttons;
using shell::Icon;
using shell::MsgBox;

namespace {

std::string utf8(const QString& s) { return s.toStdString(); }

// A field name as the field list carries it: bare when it is a plain name,
// in brackets when it holds blanks or signs ("Asset No", "memo-data"),
// which would otherwise break the statement.
QString FieldListName(const QString& name)
{
    bool plain = !name.isEmpty() && !name[0].isDigit();
    for (const QChar c : name)
        if (!(c.isLetterOrNumber() || c == u'_'))
            plain = false;
    return plain ? name : QStringLiteral("[") + name + QStringLiteral("]");
}

// Letters, digits and '_', not starting with a digit: a name a FoxPro
// statement holds without brackets.
bool PlainName(std::string_view n)
{
    if (n.empty() || (n.front() >= '0' && n.front() <= '9'))
        return false;
    for (const char c : n)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

// A tag name FoxPro accepts (at most 10 letters, digits or '_'), not one
// already given to the table.
std::string TagName(std::string_view wanted, std::vector<std::string>& taken)
{
    std::string n;
    for (const char c : wanted)
        n.push_back((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ? c : '_');
    if (n.empty() || (n.front() >= '0' && n.front() <= '9'))
        n.insert(n.begin(), 'K');
    n.resize(std::min<std::size_t>(n.size(), 10));
    auto used = [&](const std::string& x) {
        for (const std::string& t : taken)
            if (storage::namesEqual(t, x))
                return true;
        return false;
    };
    const std::string base = n;
    for (int k = 2; used(n); ++k) {
        const std::string suffix = std::to_string(k);
        n = base.substr(0, 10 - suffix.size()) + suffix;
    }
    taken.push_back(n);
    return n;
}

} // namespace

KeyScript KeyStatements(const std::string& table, const std::vector<storage::IndexSpec>& keys,
                        const std::vector<storage::ColumnDef>& arrived, bool container)
{
    KeyScript out;
    const std::string target = PlainName(table) ? table : "[" + table + "]";
    std::vector<std::string> taken;
    bool used = false;
    for (const storage::IndexSpec& key : keys) {
        auto refuse = [&](const std::string& why) { out.refused.push_back({key.name, why}); };
        if (key.columns.empty()) {
            refuse("its key is the expression " + key.expression + ", not a list of columns");
            continue;
        }
        std::string expression, why;
        for (std::size_t i = 0; i < key.columns.size() && why.empty(); ++i) {
            const storage::ColumnDef* d = nullptr;
            for (const storage::ColumnDef& c : arrived)
                if (storage::namesEqual(c.name, key.columns[i]))
                    d = &c;
            if (!d) {
                why = "its column " + key.columns[i] + " is not in the table " + table;
                break;
            }
            const char type = d->nativeType.empty() ? '?' : d->nativeType.front();
            if (key.isDescending(i))
                why = "it orders " + d->name + " descending, which is not carried";
            else if (!PlainName(d->name))
                why = "its column " + d->name + " has a name a key expression cannot hold";
            const std::string part = storage::xbaseKeyPart(d->name, type, key.columns.size() > 1);
            if (why.empty() && part.empty())
                why = type == 'M' || type == 'G' || type == 'W'
                          ? "its column " + d->name + " is a memo or general field, which FoxPro does not index"
                          : "it spans several columns and " + d->name + " is of type " + std::string(1, type) +
                                "; only text, integer, date and datetime fields are joined into one key";
            if (!why.empty())
                break;
            if (!expression.empty())
                expression += '+';
            expression += part;
        }
        if (!why.empty()) {
            refuse(why);
            continue;
        }
        const std::string tag = TagName(key.name.empty() ? key.columns.front() : key.name, taken);
        if (key.primaryKey && container) {
            out.statements.push_back("ALTER TABLE " + target + " ADD PRIMARY KEY " + expression + " TAG " + tag);
        } else if (key.primaryKey || key.unique) {
            out.statements.push_back("ALTER TABLE " + target + " ADD UNIQUE " + expression + " TAG " + tag);
        } else {
            if (!used)
                out.statements.push_back("USE " + target);
            used = true;
            out.statements.push_back("INDEX ON " + expression + " TAG " + tag);
        }
    }
    return out;
}

std::string CleanFileName(std::string_view name)
{
    std::string n;
    for (const char c : name)
        n.push_back(c == '/' || c == '\\' || c == ':' || c == '\0' ? '_' : c);
    while (!n.empty() && (n.back() == ' ' || n.back() == '.'))
        n.pop_back();
    while (!n.empty() && n.front() == '.')
        n.front() = '_';
    return n.empty() ? std::string("_") : n;
}

namespace {

// One press of "Send Table/s To FoxPro".
class Run {
public:
    explicit Run(mainwindow::TransferHost& host) : host_(host), h_("Form2.PushButton3_Click")
    {
        h_.reportSqlFrom(&current_);
    }

    void go();

private:
    // false when the run has to end at once (a cancelled customization
    // window, a query for free tables).
    bool handleEntry(int index);
    void tableSteps(const QString& name, Answer answer);
    bool customisedTableSteps(const QString& name, Answer answer);
    void viewSteps(const QString& name, Answer answer);
    void freeTablePlain(const QString& name, Answer answer);
    bool freeTableCustomised(const QString& name, Answer answer);

    void openSource(const QString& name);
    bool askCustomization(const QString& name);
    void dropAtOnce(const QString& lowerName);
    void appendColumns(const std::vector<std::int16_t>& types, const std::vector<std::int32_t>& sizes);
    void writeRows(const QString& table);
    void writeAttachments(const QString& table, std::size_t column, std::int64_t record);
    void keySteps(const QString& source, const QString& table, storage::Database& destination, bool container);
    std::vector<storage::IndexSpec> sourceKeys(const QString& source, std::vector<storage::IndexRefusal>& refused);
    void reportKeysNotCarried(const QString& source, const std::vector<storage::IndexRefusal>& refused);
    std::filesystem::path destinationFolder() const;
    void closeSource();
    void endEarly();
    QString accessQuerySql(const QString& name);

    mainwindow::TransferHost& host_;
    shell::ErrorHandler h_;
    QString current_;
    dataaccess::ConnectionFields fields_;
    ado::Connection access_;
    ado::Connection foxpro_;
    std::unique_ptr<ado::Recordset> rs_;
    std::optional<ado::Catalog> catalog_;
    std::unique_ptr<ado::Connection> freeCatalogConnection_;
    std::vector<ado::CatalogColumn> columns_;
    std::vector<std::string> sourceNames_; // the Access names of columns_
    QString fieldList_;
};

void Run::go()
{
    dataaccess::ObjectList& list = host_.accessList();
    rs_ = std::make_unique<ado::Recordset>();
    if (list.ListIndex() == -1) {
        MsgBox(QStringLiteral("Please select a table"));
        return;
    }
    host_.setPointer(mainwindow::kPointerHourglass);
    host_.script().clear();
    host_.setExecuteCaption(QStringLiteral("Execute SQL On FoxPro"));
    h_.run(10, [&] { fields_ = dataaccess::ConnectionWindowFields(); });
    h_.run(20, [&] {
        foxpro_.CursorLocation = ado::adUseServer;
        foxpro_.Open(utf8(dataaccess::FoxProConnectionString(fields_)));
    });
    h_.run(30, [&] {
        access_.CursorLocation = ado::adUseClient;
        access_.Mode = ado::adModeReadWrite;
        access_.Open(utf8(dataaccess::AccessConnectionString(QString(), QString(), fields_)));
    });

    for (int i = list.ListCount() - 1; i >= 0; --i) {
        shell::DoEvents();
        if (!list.Selected(i))
            continue;
        if (!handleEntry(i))
            return;
    }

    h_.run(200, [&] { access_.Close(); });
    h_.run(210, [&] { foxpro_.Close(); });
    MsgBox(current_);
    host_.showSqlWindow();
    host_.setPointer(mainwindow::kPointerDefault);
}

bool Run::handleEntry(int index)
{
    dataaccess::ObjectList& list = host_.accessList();
    const QString name = list.List(index);
    const bool free = !fields_.option1;
    Answer answer = Answer::OK; // no question asked
    const bool listed = free ? ListHasName8(host_.foxproList(), name) : ListHasName(host_.foxproList(), name);
    if (listed) {
        answer = MsgBox(QStringLiteral("Would you like to overwrite ") + name + QStringLiteral("?"), Buttons::YesNo,
                        Icon::None, QStringLiteral("Overwrite?"));
        if (answer == Answer::No)
            return true;
    }
    if (list.kind(index) == dataaccess::kKindView) {
        if (free) {
            host_.setPointer(mainwindow::kPointerDefault);
            MsgBox(QStringLiteral("Transferring of Access Queries to Foxpro Views in Free Tables is not supported."),
                   Buttons::OK, Icon::Exclamation);
            return false;
        }
        viewSteps(name, answer);
        return true;
    }
    const bool customised = host_.check15() == 1;
    if (free) {
        if (customised)
            return freeTableCustomised(name, answer);
        freeTablePlain(name, answer);
        return true;
    }
    if (customised)
        return customisedTableSteps(name, answer);
    tableSteps(name, answer);
    return true;
}

void Run::openSource(const QString& name)
{
    h_.run(40, [&] {
        rs_ = std::make_unique<ado::Recordset>();
        rs_->Open(utf8(QStringLiteral("SELECT * FROM [") + name + QStringLiteral("]")), access_, ado::adOpenStatic,
                  ado::adLockOptimistic);
    });
}

void Run::dropAtOnce(const QString& lowerName)
{
    h_.run(50, [&] { foxpro_.Execute(utf8(QStringLiteral("DROP TABLE [") + lowerName + QStringLiteral("]"))); });
    h_.run(60, [&] { RemoveListName(host_.foxproList(), lowerName); });
}

// The columns of the new table: the source's names as FoxPro can name them
// (storage::foxProNames: "Unit Price" becomes Unit_Price, the same rule the
// views' translation follows), with the given types and the full sizes (a
// Text(50) keeps room for 50 characters); decimals keep their precision and
// scale where the type stays a decimal.
void Run::appendColumns(const std::vector<std::int16_t>& types, const std::vector<std::int32_t>& sizes)
{
    columns_.clear();
    sourceNames_.clear();
    fieldList_.clear();
    const std::size_t n = rs_->State() ? rs_->FieldCount() : 0;
    h_.run(80, [&] {
        for (std::size_t j = 0; j < n; ++j)
            sourceNames_.push_back(rs_->Fields(j).Name());
    });
    const std::vector<std::string> names = storage::foxProNames(sourceNames_);
    for (std::size_t j = 0; j < names.size(); ++j) {
        h_.run(80, [&] {
            const ado::Field f = rs_->Fields(j);
            ado::CatalogColumn c;
            c.name = names[j];
            c.type = j < types.size() ? types[j] : f.Type();
            c.definedSize = j < sizes.size() ? sizes[j] : f.DefinedSize();
            if (c.type == f.Type()) {
                c.precision = f.info().precision;
                c.scale = f.info().scale;
            }
            columns_.push_back(std::move(c));
            fieldList_ += FieldListName(QString::fromStdString(names[j])) + QStringLiteral(",");
        });
    }
    fieldList_.chop(1);
}

void Run::writeRows(const QString& table)
{
    if (!rs_->State())
        return;
    const std::string headUtf8 = InsertHead(utf8(table));
    const QString head = QString::fromStdString(headUtf8);
    const std::string fields = utf8(fieldList_);
    const std::size_t n = rs_->FieldCount();
    std::vector<std::int16_t> types(FieldTypes.begin(), FieldTypes.end());
    types.resize(n, 0);
    // The memo of an attachment column gets the file names; the files
    // themselves go beside the table.
    std::vector<std::size_t> attachments;
    for (std::size_t j = 0; j < n; ++j)
        if (rs_->Fields(j).info().complex == storage::ComplexKind::Attachment)
            attachments.push_back(j);
    std::int64_t total = 0;
    h_.run(90, [&] { total = rs_->RecordCount(); });
    std::int64_t done = 0;
    int shown = -1;
    sqlwindow::ScriptBuffer& script = host_.script();
    std::string line;
    while (!rs_->Eof()) {
        current_ = head;
        const bool ok = h_.run(100, [&] {
            line.assign(headUtf8);
            line += fields;
            line += ") values (";
            for (std::size_t j = 0; j < n; ++j) {
                if (j)
                    line += ',';
                AppendLiteral(line, rs_->Fields(j).GetValue(), types[j]);
            }
            line += ')';
        });
        if (ok) {
            QString statement = QString::fromUtf8(line);
            h_.run(110, [&] { script.appendLine(statement); });
            current_ = std::move(statement);
        }
        for (std::size_t j : attachments)
            writeAttachments(table, j, done + 1);
        if (!h_.run(120, [&] { rs_->MoveNext(); }))
            break;
        ++done;
        if (total > 0) {
            const int percent = static_cast<int>(done * 100 / total);
            if (percent != shown) {
                shown = percent;
                host_.setProgress(percent);
            }
        }
    }
    // The bar is back at rest once the table's rows are written.
    if (shown > 0)
        host_.setProgress(0);
}

std::filesystem::path Run::destinationFolder() const
{
    if (fields_.option1)
        return std::filesystem::path(utf8(fields_.text1)).parent_path();
    return std::filesystem::path(utf8(fields_.text2));
}

// Writes each attachment of the current row's column as
// <folder>/<table>_files/<column>/<record>/<file name>.
void Run::writeAttachments(const QString& table, std::size_t column, std::int64_t record)
{
    std::vector<storage::ComplexItem> items;
    std::string columnName;
    if (!h_.run(112, [&] {
            columnName = rs_->Fields(column).Name();
            rs_->ComplexItems(column, items);
        }))
        return;
    if (items.empty())
        return;
    const std::filesystem::path dir = destinationFolder() / (CleanFileName(utf8(table)) + "_files") /
                                      CleanFileName(columnName) / std::to_string(record);
    for (const storage::ComplexItem& item : items) {
        const std::string fileName = CleanFileName(item.value.isNull() ? std::string() : item.value.toString());
        h_.run(114, [&] {
            const std::string where = "table " + utf8(table) + ", row " + std::to_string(record) + ", column " +
                                      columnName + ": the attachment " + fileName + " could not be written to " +
                                      dir.string();
            std::error_code ec;
            std::filesystem::create_directories(dir, ec);
            if (ec)
                throw Error(where + ": " + ec.message());
            std::ofstream out(dir / fileName, std::ios::binary | std::ios::trunc);
            out.write(item.fileData.data(), static_cast<std::streamsize>(item.fileData.size()));
            out.close();
            if (!out)
                throw Error(where + ": the file could not be written in full");
        });
    }
}

// The source table's keys as statements after its rows.
void Run::keySteps(const QString& source, const QString& table, storage::Database& destination, bool container)
{
    std::vector<storage::IndexRefusal> unread;
    const std::vector<storage::IndexSpec> keys = sourceKeys(source, unread);
    if (keys.empty()) {
        reportKeysNotCarried(source, unread);
        return;
    }
    std::vector<storage::ColumnDef> arrived;
    if (!h_.run(145, [&] { arrived = destination.columns(utf8(table)); }))
        return;
    // The keys name the Access fields; the table has them under their FoxPro names.
    std::vector<storage::IndexSpec> renamed = keys;
    for (storage::IndexSpec& key : renamed)
        for (std::string& column : key.columns)
            for (std::size_t j = 0; j < sourceNames_.size() && j < columns_.size(); ++j)
                if (storage::namesEqual(sourceNames_[j], column)) {
                    column = columns_[j].name;
                    break;
                }
    const KeyScript k = KeyStatements(utf8(table), renamed, arrived, container);
    for (const std::string& statement : k.statements)
        h_.run(147, [&] { host_.script().appendLine(QString::fromStdString(statement)); });
    reportKeysNotCarried(source, k.refused);
}

// The Access table's keys; keys that cannot be read are a refusal, not a
// failure of the run.
std::vector<storage::IndexSpec> Run::sourceKeys(const QString& source, std::vector<storage::IndexRefusal>& refused)
{
    try {
        return access_.session().database().indexes(utf8(source));
    } catch (const std::exception& e) {
        refused.push_back({"", std::string("the keys could not be read: ") + e.what()});
        return {};
    }
}

// A notice, not an error: every row still arrives.
void Run::reportKeysNotCarried(const QString& source, const std::vector<storage::IndexRefusal>& refused)
{
    if (refused.empty())
        return;
    QString text = QStringLiteral("table ") + source + QStringLiteral(": keys not carried to FoxPro:");
    for (const storage::IndexRefusal& r : refused)
        text += QStringLiteral("\r\n") + QString::fromStdString(r.index.empty() ? std::string("(all)") : r.index) +
                QStringLiteral(": ") + QString::fromStdString(r.reason);
    MsgBox(text, Buttons::OK, shell::Icon::Information);
}

void Run::closeSource()
{
    h_.run(130, [&] {
        if (rs_->State() != ado::adStateClosed)
            rs_->Close();
    });
}

void Run::tableSteps(const QString& name, Answer answer)
{
    if (answer == Answer::Yes)
        dropAtOnce(name.toLower());
    openSource(name);
    if (!catalog_)
        catalog_.emplace();
    catalog_->ActiveConnection(&foxpro_);
    FieldTypes.clear();
    FieldSizes.clear();
    h_.run(70, [&] {
        for (std::size_t j = 0; j < rs_->FieldCount(); ++j) {
            FieldTypes.push_back(rs_->Fields(j).Type());
            FieldSizes.push_back(rs_->Fields(j).DefinedSize());
        }
    });
    appendColumns({}, {});
    h_.run(140, [&] { catalog_->AppendTable(utf8(name), columns_); });
    writeRows(name);
    closeSource();
    keySteps(name, name, foxpro_.session().database(), true);
    host_.foxproList().AddItem(name.toLower(), dataaccess::kKindTable);
}

// Fills FieldTypes and FieldSizes from the source and shows the
// customization window; false when the user left it without "OK".
bool Run::askCustomization(const QString& name)
{
    FieldTypes.clear();
    FieldSizes.clear();
    h_.run(70, [&] {
        for (std::size_t j = 0; j < rs_->FieldCount(); ++j) {
            FieldTypes.push_back(rs_->Fields(j).Type());
            FieldSizes.push_back(rs_->Fields(j).DefinedSize());
        }
    });
    CustomizeCancelled = dataaccess::kTrue;
    host_.showCustomization(QStringLiteral("FOXPRO"), name, QString());
    return CustomizeCancelled != dataaccess::kTrue;
}

void Run::endEarly()
{
    h_.run(150, [&] {
        if (access_.State() != ado::adStateClosed)
            access_.Close();
    });
    h_.run(160, [&] {
        if (foxpro_.State() != ado::adStateClosed)
            foxpro_.Close();
    });
    host_.setPointer(mainwindow::kPointerDefault);
}

bool Run::customisedTableSteps(const QString& name, Answer answer)
{
    openSource(name);
    if (!askCustomization(name)) {
        closeSource();
        endEarly();
        return false;
    }
    if (answer == Answer::Yes)
        dropAtOnce(name.toLower());
    if (!catalog_)
        catalog_.emplace();
    catalog_->ActiveConnection(&foxpro_);
    appendColumns(std::vector<std::int16_t>(FieldTypes.begin(), FieldTypes.end()),
                  std::vector<std::int32_t>(FieldSizes.begin(), FieldSizes.end()));
    h_.run(140, [&] { catalog_->AppendTable(utf8(name), columns_); });
    writeRows(name);
    closeSource();
    keySteps(name, name, foxpro_.session().database(), true);
    host_.foxproList().AddItem(name.toLower(), dataaccess::kKindTable);
    return true;
}

QString Run::accessQuerySql(const QString& name)
{
    // The password goes along, so that a protected file gives its queries
    // like any other.
    auto db = ado::DaoEngine::instance().OpenDatabase(utf8(fields_.text3), utf8(fields_.text4));
    QString sql = QString::fromStdString(db->QueryDefSQL(utf8(name)));
    db->Close();
    qsizetype b = 0, e = sql.size();
    while (b < e && sql[b] == u' ')
        ++b;
    while (e > b && sql[e - 1] == u' ')
        --e;
    return sql.mid(b, e - b);
}

void Run::viewSteps(const QString& name, Answer answer)
{
    if (answer == Answer::Yes) {
        h_.run(170, [&] { host_.script().appendLine(QString(QStringLiteral("DROP VIEW [") + name + QStringLiteral("]"))); });
        RemoveListName(host_.foxproList(), name);
    }
    std::string untranslated;
    h_.run(180, [&] {
        QString text = accessQuerySql(name);
        // The view gets the FoxPro wording of the query where it returns the
        // same rows; otherwise the text stays as Access wrote it.
        const sql::TranslationResult r = sql::translateQuery(utf8(text), sql::Dialect::Access, sql::Dialect::FoxPro,
                                                             &access_.session().database());
        if (r.ok())
            text = QString::fromStdString(r.sql);
        else
            untranslated = r.report();
        const QString statement = QStringLiteral("CREATE VIEW [") + name + QStringLiteral("] AS ") + text;
        host_.script().appendLine(statement);
    });
    if (!untranslated.empty())
        h_.run(185, [&] {
            throw Error("query " + utf8(name) + ": kept as Access wrote it, as it could not be put in FoxPro's words:\n" +
                        untranslated);
        });
    host_.foxproList().AddItem(name, dataaccess::kKindView);
}

void Run::freeTablePlain(const QString& name, Answer answer)
{
    const QString name8 = name.left(8);
    if (answer == Answer::Yes) {
        h_.run(170, [&] { host_.script().appendLine(QString(QStringLiteral("DROP TABLE [") + name8.toLower() + QStringLiteral("]"))); });
        RemoveListName(host_.foxproList(), name8.toLower());
    }
    QString folder = fields_.text2;
    if (!folder.endsWith(u'/') && !folder.endsWith(u'\\'))
        folder += u'/';
    // The file is found ignoring letter case, as Windows would, and only
    // that file goes.
    const QString existing = FindFileIgnoringCase(folder, name + QStringLiteral(".DBF"));
    if (!existing.isEmpty())
        DeleteFileQuietly(existing);
    else
        shell::DoEvents();
    // Visual FoxPro free tables through the Access engine's FoxPro driver:
    // they keep times of day, nulls, currency, binary data and all of
    // Unicode that the folder's code page holds.
    current_ = QStringLiteral("SELECT * INTO [FoxPro 3.0;DATABASE=") + folder + QStringLiteral(";].[") + name +
               QStringLiteral("] FROM `") + name + QStringLiteral("`");
    h_.run(190, [&] { host_.script().appendLine(current_); });
    // The copy makes the table only when the script runs, so there are no
    // columns yet to build tags on: the keys are named as not carried.
    std::vector<storage::IndexRefusal> refused;
    const std::vector<storage::IndexSpec> keys = sourceKeys(name, refused);
    for (const storage::IndexSpec& k : keys)
        refused.push_back({k.name, "a plain copy into free tables carries no keys; choose the field types to carry them"});
    reportKeysNotCarried(name, refused);
    host_.foxproList().AddItem(name.toLower(), dataaccess::kKindTable);
}

bool Run::freeTableCustomised(const QString& name, Answer answer)
{
    openSource(name);
    if (!askCustomization(name)) {
        closeSource();
        endEarly();
        return false;
    }
    const QString name8 = name.left(8);
    if (answer == Answer::Yes)
        dropAtOnce(name8.toLower());
    if (!catalog_)
        catalog_.emplace();
    h_.run(75, [&] {
        freeCatalogConnection_ = std::make_unique<ado::Connection>();
        freeCatalogConnection_->Open(utf8(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") +
                                          dataaccess::ConnectionStringValue(fields_.text2) +
                                          QStringLiteral(";Extended Properties=FoxPro 3.0;")));
        catalog_->ActiveConnection(freeCatalogConnection_.get());
    });
    appendColumns(std::vector<std::int16_t>(FieldTypes.begin(), FieldTypes.end()),
                  std::vector<std::int32_t>(FieldSizes.begin(), FieldSizes.end()));
    h_.run(140, [&] { catalog_->AppendTable(utf8(name8), columns_); });
    catalog_->ActiveConnection(nullptr);
    writeRows(name8);
    closeSource();
    if (freeCatalogConnection_ && freeCatalogConnection_->State())
        keySteps(name, name8, freeCatalogConnection_->session().database(), false);
    freeCatalogConnection_.reset();
    host_.foxproList().AddItem(name8.toLower(), dataaccess::kKindTable);
    return true;
}

} // namespace

void SendTablesToFoxPro(mainwindow::TransferHost& host)
{
    Run run(host);
    run.go();
}

} // namespace qm::tofoxpro
