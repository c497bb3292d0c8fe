#include "tofoxpro/sendtofoxpro.h"

#include "ado/ado.h"
#include "dataaccess/connectionstrings.h"
#include "dataaccess/globals.h"
#include "dataaccess/objectlist.h"
#include "mainwindow/transferhost.h"
#include "shell/dialogs.h"
#include "shell/errorreport.h"
#include "sqlwindow/scriptbuffer.h"
#include "tofoxpro/listnames.h"
#include "tofoxpro/literals.h"

#include <QDir>

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

// The columns of the new table: the source's names with the given types and
// the full sizes (a Text(50) keeps room for 50 characters); decimals keep
// their precision and scale where the type stays a decimal.
void Run::appendColumns(const std::vector<std::int16_t>& types, const std::vector<std::int32_t>& sizes)
{
    columns_.clear();
    fieldList_.clear();
    const std::size_t n = rs_->State() ? rs_->FieldCount() : 0;
    for (std::size_t j = 0; j < n; ++j) {
        h_.run(80, [&] {
            const ado::Field f = rs_->Fields(j);
            ado::CatalogColumn c;
            c.name = f.Name();
            c.type = j < types.size() ? types[j] : f.Type();
            c.definedSize = j < sizes.size() ? sizes[j] : f.DefinedSize();
            if (c.type == f.Type()) {
                c.precision = f.info().precision;
                c.scale = f.info().scale;
            }
            columns_.push_back(std::move(c));
            fieldList_ += QString::fromStdString(f.Name()) + QStringLiteral(",");
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
    h_.run(180, [&] {
        const QString statement = QStringLiteral("CREATE VIEW [") + name + QStringLiteral("] AS ") + accessQuerySql(name);
        host_.script().appendLine(statement);
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
    freeCatalogConnection_.reset();
    writeRows(name8);
    closeSource();
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
