#include "sqlwindow/executescript.h"

#include "ado/ado.h"
#include "sql/executor.h"
#include "sql/parser.h"
#include "sql/script.h"

#ifdef QM_HAVE_PROVIDERS
#include "providers/providers.h"
#endif

#include <QByteArray>
#include <QStringEncoder>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace qm::sqlwindow {

namespace {

// The script is cut into pieces of about this many code units at line ends;
// each piece is turned into UTF-8 for the SQL layer, so the whole text is
// never held twice.
constexpr qsizetype kPieceUnits = 1 << 20;
// How many failures the report names.
constexpr std::size_t kFailuresKept = 10;
// Statements between two progress calls at the most, and the longest time.
constexpr qsizetype kProgressEvery = 4096;
using Clock = std::chrono::steady_clock;
constexpr auto kProgressInterval = std::chrono::milliseconds(50);
// A failing statement is quoted up to this many characters: one line of the
// report, so that ten failures still fit a small screen.
constexpr qsizetype kQuotedChars = 90;

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
           || static_cast<unsigned char>(c) >= 0x80;
}

bool startsWithWord(std::string_view s, std::size_t at, std::string_view word)
{
    if (at + word.size() > s.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = s[at + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i])
            return false;
    }
    if (at > 0 && isNameChar(s[at - 1]))
        return false;
    return at + word.size() == s.size() || !isNameChar(s[at + word.size()]);
}

std::string lowered(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace

// SELECT ... INTO [type;DATABASE=folder;].[name] FROM ...: a copy out of an
// Access table into a folder through the Access engine's external drivers.
// The FoxPro side has neither the source table nor such targets.
bool IsFreeTableCopy(std::string_view statement)
{
    std::size_t i = 0;
    while (i < statement.size() && (statement[i] == ' ' || statement[i] == '\t' || statement[i] == '\r'
                                    || statement[i] == '\n'))
        ++i;
    if (!startsWithWord(statement, i, "select"))
        return false;
    for (i += 6; i < statement.size(); ++i) {
        const char c = statement[i];
        if (c == '\'' || c == '"' || c == '`') {
            const std::size_t close = statement.find(c, i + 1);
            if (close == std::string_view::npos)
                return false;
            i = close;
            continue;
        }
        if (c == '[') {
            const std::size_t close = statement.find(']', i + 1);
            if (close == std::string_view::npos)
                return false;
            i = close;
            continue;
        }
        if (!startsWithWord(statement, i, "into"))
            continue;
        std::size_t j = i + 4;
        while (j < statement.size() && (statement[j] == ' ' || statement[j] == '\t'))
            ++j;
        if (j >= statement.size() || statement[j] != '[')
            return false;
        const std::size_t close = statement.find(']', j + 1);
        if (close == std::string_view::npos)
            return false;
        const std::string inside = lowered(statement.substr(j + 1, close - j - 1));
        const std::size_t semi = inside.find(';');
        return semi != std::string::npos && inside.find("database=", semi) != std::string::npos;
    }
    return false;
}

QString ScriptRunResult::report() const
{
    QString r = QStringLiteral("%1 of %2 statements failed.").arg(failed).arg(statements);
    for (const ScriptFailure& f : firstFailures) {
        // Line 0: a failure of the whole run rather than of one statement.
        r += f.line > 0 ? QStringLiteral("\r\nLine %1: %2").arg(f.line).arg(f.message) : QStringLiteral("\r\n") + f.message;
        if (!f.statement.isEmpty())
            r += QStringLiteral("\r\n    ") + f.statement;
    }
    if (failed > static_cast<qsizetype>(firstFailures.size()))
        r += QStringLiteral("\r\n...");
    return r;
}

namespace {

// One of the two connections as the run uses it.
struct Side {
    ado::Connection& connection;
    const char* name; // which database, for the messages
    std::optional<QString> unusable; // why the connection can't run anything
    ado::Session* session = nullptr;
#ifdef QM_HAVE_PROVIDERS
    providers::SqlSession* sqlSession = nullptr;
#endif
    std::optional<sql::Parser> parser;
    sql::Statement statement; // reused: its buffers keep their capacity
    bool batched = false;

    Side(ado::Connection& c, const char* n) : connection(c), name(n) {}

    void open()
    {
        try {
            session = &connection.session();
        } catch (const std::exception& e) {
            unusable = QStringLiteral("The %1 database is not open: %2").arg(QLatin1String(name), QString::fromUtf8(e.what()));
            return;
        }
#ifdef QM_HAVE_PROVIDERS
        sqlSession = dynamic_cast<providers::SqlSession*>(session);
        if (sqlSession) {
            parser.emplace(sqlSession->executor().dialect());
            session->database().beginBatch();
            batched = true;
        }
#endif
    }

    // Runs one statement; the failure's text, or nothing.  where carries
    // the statement's line in the whole script, so that syntax messages
    // name it.
    std::optional<QString> run(const sql::ScriptStatement& where, bool& counted)
    {
        counted = true;
        if (unusable)
            return unusable;
        try {
#ifdef QM_HAVE_PROVIDERS
            if (sqlSession) {
                if (!parser->parse(where.text, statement)) {
                    counted = false;
                    return std::nullopt;
                }
                sqlSession->executor().execute(statement, where);
                return std::nullopt;
            }
#endif
            session->execute(where.text);
            return std::nullopt;
        } catch (const sql::ParseError& e) {
            return QString::fromStdString(sql::Executor::syntaxMessage(e, where));
        } catch (const std::bad_alloc&) {
            return QStringLiteral("Not enough memory to run the statement.");
        } catch (const std::exception& e) {
            return QString::fromUtf8(e.what());
        }
    }

    // Ends the batch: what was written becomes durable.  The failure's
    // text, or nothing.
    std::optional<QString> finish()
    {
        if (!batched)
            return std::nullopt;
        batched = false;
        try {
#ifdef QM_HAVE_PROVIDERS
            // An empty script lets go of the folders external targets opened.
            sqlSession->executor().runScript({});
#endif
            session->database().endBatch();
            return std::nullopt;
        } catch (const std::exception& e) {
            return QString::fromUtf8(e.what());
        }
    }
};

struct StopRun {};

} // namespace

ScriptRunResult ExecuteScript(const ScriptBuffer& script, ScriptTarget target, ado::Connection& foxpro,
                              ado::Connection& access, const ScriptProgress& progress)
{
    ScriptRunResult result;
    Side fox(foxpro, "FoxPro"), acc(access, "Access");
    Side& main = target == ScriptTarget::FoxPro ? fox : acc;
    main.open();
    bool accessOpened = &main == &acc;
    const sql::Dialect dialect = target == ScriptTarget::FoxPro ? sql::Dialect::FoxPro : sql::Dialect::Access;

    auto fail = [&](qsizetype line, std::string_view statement, const QString& message) {
        ++result.failed;
        if (result.firstFailures.size() < kFailuresKept) {
            QString quoted = QString::fromUtf8(statement.data(), static_cast<qsizetype>(
                                                                     std::min<std::size_t>(statement.size(), 4 * kQuotedChars)));
            if (quoted.size() > kQuotedChars)
                quoted = quoted.left(kQuotedChars) + QStringLiteral("...");
            result.firstFailures.push_back({line, quoted, message});
        }
    };

    // The text is looked at afresh for every piece: while the progress
    // callback lets window messages through, something may append to it.
    qsizetype total = script.length();
    qsizetype pos = 0;         // code units of the script taken so far
    qsizetype pieceLine = 1;   // script line where the piece's first statement starts
    QByteArray carried;        // a statement that may go on in the next piece
    QByteArray piece;
    qsizetype sinceProgress = 0;
    Clock::time_point nextProgress = Clock::now() + kProgressInterval;
    bool stopped = false;

    try {
        while (pos < (total = script.length())) {
            const QStringView text = script.view();
            qsizetype end = std::min(total, pos + kPieceUnits);
            // Pieces end after a line end, so that no line is cut.
            while (end < total && text[end - 1] != QLatin1Char('\n') && text[end - 1] != QLatin1Char('\r'))
                ++end;
            if (end < total && text[end - 1] == QLatin1Char('\r') && text[end] == QLatin1Char('\n'))
                ++end;
            const bool lastPiece = end >= total;
            const qsizetype pieceStart = pos;
            // One buffer serves every piece, so its pages are not handed
            // back and faulted in again for each.
            const qsizetype carriedBytes = carried.size();
            piece.resize(carriedBytes + 3 * (end - pos));
            std::memcpy(piece.data(), carried.constData(), static_cast<std::size_t>(carriedBytes));
            QStringEncoder utf8(QStringEncoder::Utf8);
            char* written = utf8.appendToBuffer(piece.data() + carriedBytes, text.mid(pos, end - pos));
            piece.resize(written - piece.constData());
            carried.clear();
            pos = end;

            const std::string_view bytes(piece.constData(), static_cast<std::size_t>(piece.size()));
            sql::ScriptSplitter splitter(bytes, dialect);
            sql::ScriptStatement st, next;
            bool have = splitter.next(st);
            while (have) {
                const bool more = splitter.next(next);
                if (!more && !lastPiece) {
                    // The last statement of a piece may go on past it.
                    const std::size_t from = static_cast<std::size_t>(st.text.data() - bytes.data());
                    carried = piece.mid(static_cast<qsizetype>(from));
                    pieceLine += st.line - 1;
                    break;
                }
                sql::ScriptStatement where = st;
                where.line = static_cast<std::uint32_t>(pieceLine + st.line - 1);
                Side* side = &main;
                if (target == ScriptTarget::FoxPro && IsFreeTableCopy(st.text)) {
                    side = &acc;
                    if (!accessOpened) {
                        acc.open();
                        accessOpened = true;
                    }
                }
                bool counted = false;
                if (std::optional<QString> error = side->run(where, counted)) {
                    fail(where.line, st.text, *error);
                    counted = true;
                }
                if (counted) {
                    ++result.statements;
                    // Slow statements (copies of whole tables) report
                    // sooner than after a few thousand.
                    if (progress && (++sinceProgress >= kProgressEvery || Clock::now() >= nextProgress)) {
                        sinceProgress = 0;
                        nextProgress = Clock::now() + kProgressInterval;
                        const qsizetype into = static_cast<qsizetype>(st.text.data() - bytes.data()) - carriedBytes;
                        const qsizetype pieceBytes = std::max<qsizetype>(piece.size() - carriedBytes, 1);
                        const qsizetype units = pieceStart + std::max<qsizetype>(into, 0) * (end - pieceStart) / pieceBytes;
                        if (!progress(result.statements, std::min(units, total), total))
                            throw StopRun{};
                    }
                }
                st = next;
                have = more;
            }
            if (lastPiece && script.length() <= pos)
                break;
            if (carried.isEmpty())
                pieceLine = script.lineAt(pos) + 1; // a piece of blank lines
        }
    } catch (const StopRun&) {
        stopped = true;
    } catch (const std::bad_alloc&) {
        fail(0, {}, QStringLiteral("Not enough memory to go on with the script; the statements before stay."));
        stopped = true;
    }

    for (Side* side : {&fox, &acc})
        if (std::optional<QString> error = side->finish())
            fail(0, {}, QStringLiteral("The changes could not be made durable: ") + *error);
    if (progress && !stopped)
        progress(result.statements, total, total);
    return result;
}

} // namespace qm::sqlwindow
