// Running the SQL window's script against one of the two databases.
//
// Every statement runs, in script order; a failing statement is counted and
// remembered with its line, and the run goes on, so what succeeded stays and
// one report at the end names what failed.  A free-table copy line
// (SELECT ... INTO [FoxPro 3.0;DATABASE=...] / [dBase IV;...] FROM ...)
// reads an Access table, so it runs on the Access connection whatever the
// script is meant for; every other line runs on the target's connection.
#pragma once

#include "sqlwindow/scriptbuffer.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace qm::ado {
class Connection;
}

namespace qm::sqlwindow {

enum class ScriptTarget { FoxPro, Access };

struct ScriptFailure {
    qsizetype line = 0;  // 1-based line of the script where the statement starts
    QString statement;   // the statement's text (cut when very long)
    QString message;     // the provider's description
};

struct ScriptRunResult {
    qsizetype statements = 0; // statements run, failed ones included
    qsizetype failed = 0;
    std::vector<ScriptFailure> firstFailures; // the first few, in script order
    bool ok() const { return failed == 0; }
    // "N of M statements failed." and the first failures with their lines.
    QString report() const;
};

// Called now and then with the statements done so far and the script's
// length done in code units; returning false stops the run after the
// statement in hand.
using ScriptProgress = std::function<bool(qsizetype statementsDone, qsizetype unitsDone, qsizetype unitsTotal)>;

// True for a free-table copy line: SELECT ... INTO [type;DATABASE=...].[name]
// FROM ..., whatever the external type ("dBase IV", "FoxPro 3.0"...).
bool IsFreeTableCopy(std::string_view statement);

ScriptRunResult ExecuteScript(const ScriptBuffer& script, ScriptTarget target, ado::Connection& foxpro,
                              ado::Connection& access, const ScriptProgress& progress = {});

} // namespace qm::sqlwindow
