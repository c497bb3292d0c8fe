// Copying the rows of one FoxPro table into the Access table made for it.
//
// Rows go through the target recordset one at a time (AddNew, the field
// values by position, Update), all of them inside one write batch of the
// Access database, so the file pays for durability once per table and a
// killed run never leaves half a table's rows behind.  A row the target
// refuses is counted and the copy goes on; the caller reports the count and
// the first refusal once, at the end of the table.
#pragma once

#include "ado/ado.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <functional>

namespace qm::toaccess {

// The progress bar and the yielding to the window system during a copy,
// kept cheap: the bar is set only when its whole-number value changes (in a
// long table at most a few times a second), and pending window messages are
// processed at most every few milliseconds.
class CopyPacer {
public:
    explicit CopyPacer(std::function<void(int)> setProgress);
    // Before row r (from 0) of n.
    void beforeRow(std::int64_t r, std::int64_t n);
    // After the last row: the bar back to 0.
    void finish();

private:
    std::function<void(int)> setProgress_;
    QElapsedTimer sinceYield_;
    QElapsedTimer sinceShown_;
    int shown_ = -1;
};

// A write batch of a database, open while this lives.  end() makes it
// durable and throws when it cannot be; otherwise it is ended (and any
// failure passed over) on the way out.
class WriteBatch {
public:
    explicit WriteBatch(storage::Database& db);
    ~WriteBatch();
    WriteBatch(const WriteBatch&) = delete;
    WriteBatch& operator=(const WriteBatch&) = delete;
    void end();

private:
    storage::Database& db_;
    bool open_ = true;
};

struct CopyOutcome {
    std::int64_t sourceRows = 0; // RecordCount of the source
    std::int64_t copied = 0;
    std::int64_t failed = 0;
    QString firstFailure;        // names the row, the field and the value
    bool targetOpened = false;
};

// Copies every row of `source` (positioned on its first row) into the
// Access table `table` of `access`, inside a batch of its own, which joins
// the caller's when one is open (the caller's end then makes the rows
// durable).  Throws when the target cannot be opened or the batch cannot be
// made durable; refused rows are counted instead.
CopyOutcome CopyRows(ado::Recordset& source, ado::Connection& access, const QString& table, CopyPacer& pacer);

} // namespace qm::toaccess
