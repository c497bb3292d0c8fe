// Form4, the SQL window: the script the transfers write, which the user
// reads, edits and runs against one of the two databases, or copies to the
// clipboard.
//
// The caption of PushButton1 ("Execute SQL On FoxPro" / "Execute SQL On
// Access") is the only record of which database the script is meant for.
// Running it takes every statement in script order (free-table copy lines on
// the Access connection) and ends with one report of what failed; the main
// window's lists are read again after every run, whatever happened.
#pragma once

#include "shell/chrome.h"
#include "sqlwindow/executescript.h"
#include "sqlwindow/scripteditor.h"
#include "sqlwindow/scriptbuffer.h"

#include <QWidget>

#include <functional>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace qm::sqlwindow {

inline constexpr const char* kExecuteOnFoxPro = "Execute SQL On FoxPro";
inline constexpr const char* kExecuteOnAccess = "Execute SQL On Access";
inline constexpr const char* kExecuteOnUnknown = "Execute SQL On X";

class Form4 : public QWidget {
    Q_OBJECT

public:
    explicit Form4(QWidget* parent = nullptr);
    ~Form4() override;

    // The text of Text1.
    ScriptBuffer& script() { return script_; }

    // ---- controls ----
    QGroupBox* Frame1;         // "SQL"
    ScriptEditor* Text1;       // the script
    QPushButton* PushButton1;  // "Execute SQL On FoxPro" / "... On Access"
    QPushButton* PushButton2;  // "Copy SQL To Clipboard"
    QLabel* lblStatus;         // lines of the script; statements done while running
    QProgressBar* ProgressBar1;// how far a run has come

    shell::WindowPointer* MousePointer = nullptr;

    // Set by the main window: reads List1 and List2 again from the
    // databases.  Called after every execution.
    std::function<void()> RefillLists;

    bool isExecuting() const { return executing_; }
    // What the last execution did (statements run, failures).
    const ScriptRunResult& lastRun() const { return lastRun_; }

    // ---- event procedures ----
    void Form_Load();
    void PushButton1_Click(); // execute
    void PushButton2_Click(); // copy to the clipboard

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showLineCount();
    void showProgress(qsizetype statements, qsizetype unitsDone, qsizetype unitsTotal);

    ScriptBuffer script_;
    ScriptRunResult lastRun_;
    bool executing_ = false;
    bool lineCountPending_ = false;
};

} // namespace qm::sqlwindow
