#include "copy_command.h"

#include "ado/ado.h"
#include "dataaccess/connectionstrings.h"
#include "dataaccess/objectlist.h"
#include "mainwindow/headlesshost.h"
#include "providers/providers.h"
#include "shell/dialogs.h"
#include "sqlwindow/executescript.h"
#include "storage/open.h"
#include "toaccess/newdatabase.h"
#include "toaccess/sendtoaccess.h"
#include "tofoxpro/sendtofoxpro.h"
#include "xbase/dbc.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace qm::cli {

namespace {

struct CopyArguments {
    std::string source;
    std::string destination;
    std::vector<std::string> names;
    std::string password;
    bool overwrite = false;
};

struct Usage : std::runtime_error {
    using std::runtime_error::runtime_error;
};

CopyArguments parse(const std::vector<std::string>& args)
{
    CopyArguments a;
    std::vector<std::string> positional;
    std::size_t i = !args.empty() && args[0] == "copy" ? 1 : 0;
    for (; i < args.size(); ++i) {
        const std::string& w = args[i];
        if (w == "--overwrite") {
            a.overwrite = true;
        } else if (w == "--password") {
            if (i + 1 >= args.size())
                throw Usage("--password needs a value");
            a.password = args[++i];
        } else if (w.rfind("--password=", 0) == 0) {
            a.password = w.substr(11);
        } else if (w.size() > 2 && w.rfind("--", 0) == 0) {
            throw Usage("unknown option '" + w + "'");
        } else {
            positional.push_back(w);
        }
    }
    if (positional.size() < 2)
        throw Usage("'copy' needs a source and a destination");
    // Absolute paths: the container records its tables' paths relative to
    // itself, and a relative destination would be read from two places.
    a.source = std::filesystem::absolute(positional[0]).lexically_normal().string();
    a.destination = std::filesystem::absolute(positional[1]).lexically_normal().string();
    a.names.assign(positional.begin() + 2, positional.end());
    return a;
}

// Messages of the transfer go to standard error; the overwrite question is
// answered by --overwrite.
class CliDialogs final : public shell::DialogService {
public:
    CliDialogs(std::ostream& err, bool overwrite) : err_(err), overwrite_(overwrite) {}

    shell::Answer messageBox(const QString& text, shell::Buttons buttons, shell::Icon icon, const QString& title) override
    {
        if (title == QStringLiteral("Overwrite?")) {
            const QString name = text.mid(QStringLiteral("Would you like to overwrite ").size()).chopped(1);
            if (overwrite_) {
                err_ << "replacing " << name.toStdString() << "\n";
                return shell::Answer::Yes;
            }
            err_ << "skipped " << name.toStdString() << ": it exists already (use --overwrite to replace it)\n";
            return shell::Answer::No;
        }
        if (icon == shell::Icon::Information) {
            // A notice (keys that stay behind): said, but not a failure.
            QString oneLine = text;
            oneLine.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
            err_ << "note: " << oneLine.toStdString() << "\n";
        } else if (title == QStringLiteral("Application Error") || icon != shell::Icon::None) {
            ++failures_;
            QString oneLine = text;
            oneLine.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
            err_ << oneLine.toStdString() << "\n";
        }
        // The final box shows the last statement built: nothing to tell here.
        return buttons == shell::Buttons::YesNo || buttons == shell::Buttons::YesNoCancel ? shell::Answer::Yes
                                                                                         : shell::Answer::OK;
    }
    QString inputBox(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString openFile(QWidget*, const shell::OpenFileRequest&) override { return {}; }
    QString browseForFolder(QWidget*, const QString&) override { return {}; }
    void setClipboardText(const QString&) override {}
    QString clipboardText() override { return {}; }
    void doEvents() override {}

    int failures() const { return failures_; }

private:
    std::ostream& err_;
    bool overwrite_;
    int failures_ = 0;
};

// Progress on standard error: a bar on a terminal, nothing otherwise.
class ProgressLine {
public:
    explicit ProgressLine(std::ostream& err) : err_(err), terminal_(::isatty(2) == 1) {}
    ~ProgressLine() { finish(); }
    void show(const std::string& what, int percent)
    {
        if (!terminal_ || percent == last_)
            return;
        last_ = percent;
        const int filled = percent * 30 / 100;
        err_ << "\r" << what << " [" << std::string(filled, '#') << std::string(30 - filled, '.') << "] " << percent
             << "%" << std::flush;
        open_ = true;
    }
    void finish()
    {
        if (open_)
            err_ << "\n";
        open_ = false;
        last_ = -1;
    }

private:
    std::ostream& err_;
    bool terminal_;
    bool open_ = false;
    int last_ = -1;
};

void fillList(dataaccess::ObjectList& list, ado::Connection& cn)
{
    QStringList names, kinds;
    for (const auto& [name, type] : cn.session().schemaTables()) {
        if (type != "TABLE" && type != "VIEW")
            continue;
        names << QString::fromStdString(name);
        kinds << QString::fromStdString(type);
    }
    list.setRows(names, kinds);
}

// Selects the named rows (all without names); a name not listed is an error.
void selectRows(dataaccess::ObjectList& list, const std::vector<std::string>& names, const std::string& source)
{
    int current = -1;
    if (names.empty()) {
        for (int i = 0; i < list.ListCount(); ++i) {
            list.setSelected(i, true);
            current = i;
        }
    }
    for (const std::string& n : names) {
        const QString wanted = QString::fromStdString(n);
        int found = -1;
        for (int i = 0; i < list.ListCount() && found < 0; ++i)
            if (list.List(i).compare(wanted, Qt::CaseInsensitive) == 0)
                found = i;
        if (found < 0)
            throw Error(source + ": no table or query named '" + n + "'");
        list.setSelected(found, true);
        current = found;
    }
    if (current < 0)
        throw Error(source + ": there is no table or query to copy");
    list.setListIndex(current);
}

bool endsWithIgnoringCase(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && QString::fromStdString(s.substr(s.size() - tail.size())).compare(
                                          QString::fromStdString(tail), Qt::CaseInsensitive) == 0;
}

// A new, empty container or folder when the destination does not exist yet.
void prepareFoxProDestination(const std::string& dst)
{
    namespace fs = std::filesystem;
    if (fs::exists(dst))
        return;
    if (endsWithIgnoringCase(dst, ".dbc")) {
        const fs::path parent = fs::path(dst).parent_path();
        if (!parent.empty() && !fs::is_directory(parent))
            throw Error(dst + ": the folder " + parent.string() + " does not exist");
        xbase::Container::create(dst);
    } else {
        std::error_code ec;
        fs::create_directories(dst, ec);
        if (ec)
            throw Error(dst + ": the folder cannot be made: " + ec.message());
    }
}

// The connection window's fields for one run: the Access file and the
// FoxPro container or folder, whichever way the copy goes.  They become the
// run's connection settings, and both catalog lists are read from them.
dataaccess::ConnectionFields connectFields(const std::string& access, const std::string& foxpro,
                                           const std::string& password, mainwindow::HeadlessHost& host)
{
    dataaccess::ConnectionFields fields;
    fields.option1 = endsWithIgnoringCase(foxpro, ".dbc");
    fields.text1 = fields.option1 ? QString::fromStdString(foxpro) : QString();
    fields.text2 = fields.option1 ? QString() : QString::fromStdString(foxpro);
    fields.text3 = QString::fromStdString(access);
    fields.text4 = QString::fromStdString(password);
    dataaccess::SetConnectionFieldsSource([fields] { return fields; });

    ado::Connection accessConnection, foxproConnection;
    accessConnection.Open(dataaccess::AccessConnectionString(QString(), QString(), fields).toStdString());
    foxproConnection.Open(dataaccess::FoxProConnectionString(fields).toStdString());
    fillList(host.accessList(), accessConnection);
    fillList(host.foxproList(), foxproConnection);
    return fields;
}

int copyToFoxPro(const CopyArguments& a, mainwindow::HeadlessHost& host, CliDialogs& dialogs, std::ostream& out,
                 std::ostream& err)
{
    prepareFoxProDestination(a.destination);
    const dataaccess::ConnectionFields fields = connectFields(a.source, a.destination, a.password, host);
    selectRows(host.accessList(), a.names, a.source);

    ProgressLine bar(err);
    host.onProgress([&](int percent) { bar.show("writing rows", percent); });
    tofoxpro::SendTablesToFoxPro(host);
    bar.finish();
    if (host.sqlWindowShown() == 0) {
        err << "quillmere-cli: the transfer ended early; nothing was executed\n";
        return 1;
    }

    ado::Connection access, foxpro;
    access.Open(dataaccess::AccessConnectionString(QString(), QString(), fields).toStdString());
    foxpro.Open(dataaccess::FoxProConnectionString(fields).toStdString());
    const sqlwindow::ScriptRunResult result = sqlwindow::ExecuteScript(
        host.script(), sqlwindow::ScriptTarget::FoxPro, foxpro, access,
        [&](qsizetype, qsizetype done, qsizetype total) {
            bar.show("executing", total > 0 ? static_cast<int>(done * 100 / total) : 100);
            return true;
        });
    bar.finish();
    out << result.statements - result.failed << " of " << result.statements << " statements executed on "
        << a.destination << "\n";
    if (!result.ok()) {
        err << result.report().toStdString() << "\n";
        return 1;
    }
    return dialogs.failures() ? 1 : 0;
}

int copyToAccess(const CopyArguments& a, mainwindow::HeadlessHost& host, CliDialogs& dialogs, std::ostream& out,
                 std::ostream& err)
{
    if (toaccess::MakeAccessDatabaseIfMissing(a.destination))
        err << "quillmere-cli: made the new database " << a.destination << "\n";
    connectFields(a.destination, a.source, a.password, host);
    selectRows(host.foxproList(), a.names, a.source);
    ProgressLine bar(err);
    host.onProgress([&](int percent) { bar.show("copying rows", percent); });
    toaccess::SendTablesToAccess(host);
    bar.finish();
    out << "sent to " << a.destination << "\n";
    return dialogs.failures() ? 1 : 0;
}

} // namespace

int runCopy(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CopyArguments a;
    try {
        a = parse(args);
    } catch (const Usage& e) {
        err << "quillmere-cli: " << e.what() << "\n"
            << "usage: quillmere-cli copy SRC DST [TABLE_OR_QUERY...] [--password PW] [--overwrite]\n";
        return 2;
    }
    providers::registerBuiltInProviders();
    CliDialogs dialogs(err, a.overwrite);
    shell::ScopedDialogService scope(dialogs);
    mainwindow::HeadlessHost host;
    try {
        const auto kind = storage::classifyPath(a.source);
        int status = 0;
        if (kind == storage::SourceKind::Access)
            status = copyToFoxPro(a, host, dialogs, out, err);
        else if (kind == storage::SourceKind::FoxProContainer || kind == storage::SourceKind::FreeTableFolder)
            status = copyToAccess(a, host, dialogs, out, err);
        else
            throw Error(a.source + ": neither an Access database (.mdb, .accdb) nor a FoxPro database (.dbc) or folder");
        dataaccess::SetConnectionFieldsSource({});
        return status;
    } catch (const std::exception& e) {
        dataaccess::SetConnectionFieldsSource({});
        err << "quillmere-cli: " << e.what() << "\n";
        return 1;
    }
}

} // namespace qm::cli
