#include "toaccess/rowcopy.h"

#include "shell/dialogs.h"

#include <cmath>
#include <vector>

namespace qm::toaccess {

namespace {

// How long the window may wait for its messages while rows are copied.
constexpr qint64 kYieldEveryMs = 40;
// How often the progress bar of a long table moves.
constexpr qint64 kShowEveryMs = 200;
// Tables of up to this many rows show every step of the bar.
constexpr std::int64_t kEveryStepUpTo = 100;

QString describe(const std::exception& e) { return QString::fromUtf8(e.what()); }

} // namespace

WriteBatch::WriteBatch(storage::Database& db) : db_(db) { db_.beginBatch(); }

WriteBatch::~WriteBatch()
{
    if (open_) {
        try {
            db_.endBatch();
        } catch (...) {
            // The failure that brought us here is the one reported.
        }
    }
}

void WriteBatch::end()
{
    open_ = false;
    db_.endBatch();
}

CopyPacer::CopyPacer(std::function<void(int)> setProgress) : setProgress_(std::move(setProgress))
{
    sinceYield_.start();
    sinceShown_.start();
}

void CopyPacer::beforeRow(std::int64_t r, std::int64_t n)
{
    // Checking the clock costs little, but not nothing: every 64th row.
    if ((r & 63) == 0 && sinceYield_.elapsed() >= kYieldEveryMs) {
        shell::DoEvents();
        sinceYield_.restart();
    }
    if (n <= 0)
        return;
    const int percent = static_cast<int>(std::floor(double(r + 1) / double(n) * 100.0));
    if (percent == shown_)
        return;
    // A bar repaints itself at once, which costs as much as copying a few
    // hundred rows: a long table moves it at most every so often, and
    // always to its end.  In a short table every row is a step worth seeing.
    if (n > kEveryStepUpTo && percent < 100 && shown_ >= 0 && sinceShown_.elapsed() < kShowEveryMs)
        return;
    shown_ = percent;
    setProgress_(percent);
    sinceShown_.restart();
    shell::DoEvents(); // let the bar repaint
    sinceYield_.restart();
}

void CopyPacer::finish()
{
    shown_ = -1;
    setProgress_(0);
}

CopyOutcome CopyRows(ado::Recordset& source, ado::Connection& access, const QString& table, CopyPacer& pacer)
{
    CopyOutcome out;
    out.sourceRows = source.RecordCount();
    if (source.Eof())
        return out;

    ado::Recordset target;
    target.Open("SELECT * FROM `" + table.toStdString() + "`", access, ado::adOpenDynamic, ado::adLockOptimistic);
    out.targetOpened = true;
    const std::size_t fields = source.FieldCount();
    // A Yes/No column has no Null: a .NULL. logical arrives as No.
    std::vector<bool> yesNo(fields, false);
    for (std::size_t f = 0; f < fields && f < target.FieldCount(); ++f)
        yesNo[f] = target.Fields(f).Type() == ado::adBoolean;

    WriteBatch batch(access.session().database());
    for (std::int64_t r = 0; r < out.sourceRows && !source.Eof(); ++r) {
        pacer.beforeRow(r, out.sourceRows);
        try {
            target.AddNew();
            for (std::size_t f = 0; f < fields; ++f) {
                const Value& v = source.Fields(f).GetValue();
                if (yesNo[f] && v.isNull())
                    target.Fields(f).SetValue(Value::boolean(false));
                else
                    target.Fields(f).SetValue(v);
            }
            target.Update();
            ++out.copied;
        } catch (const std::exception& e) {
            if (out.failed++ == 0)
                out.firstFailure = QStringLiteral("row %1: %2").arg(r + 1).arg(describe(e));
        }
        try {
            source.MoveNext();
        } catch (const std::exception& e) {
            // A record that cannot be read ends the copy: the rows after it
            // are not reachable through this recordset.
            const std::int64_t rest = out.sourceRows - r - 1;
            if (rest > 0 && out.failed == 0)
                out.firstFailure = QStringLiteral("row %1 of the FoxPro table could not be read: %2").arg(r + 2).arg(describe(e));
            out.failed += rest;
            break;
        }
    }
    pacer.finish();
    target.Close();
    batch.end();
    return out;
}

} // namespace qm::toaccess
