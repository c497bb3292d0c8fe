// What a transfer needs from the windows around it.
//
// The send buttons of the main window start a transfer with the main
// window as its host: the two catalog lists (each row with its kind), the
// "Send with data type customization" boxes, the progress bar, the pointer,
// the SQL window's script and execute caption, and the customization
// window.  The command line and the tests give a transfer a host of their
// own with the same lists and script and no windows, so that one transfer
// serves all three.
#pragma once

#include <QString>

namespace qm::dataaccess {
class ObjectList;
}
namespace qm::sqlwindow {
class ScriptBuffer;
}

namespace qm::mainwindow {

// The main window's pointer values.
inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerHourglass = 11;

class TransferHost {
public:
    virtual ~TransferHost() = default;

    // List1 (Access tables and queries) and List2 (FoxPro tables and views).
    virtual dataaccess::ObjectList& accessList() = 0;
    virtual dataaccess::ObjectList& foxproList() = 0;

    // Check15 (Access side, transfer to FoxPro) and Check16 (FoxPro side,
    // transfer to Access): 1 ticked, 0 clear.
    virtual int check15() const = 0;
    virtual int check16() const = 0;

    // ProgressBar1, 0 to 100.
    virtual void setProgress(int percent) = 0;
    // The main window's mouse pointer (kPointerDefault, kPointerHourglass).
    virtual void setPointer(int pointer) = 0;

    // The SQL window: its script (Text1), its execute button's caption
    // (PushButton1), and showing it without making it modal.
    virtual sqlwindow::ScriptBuffer& script() = 0;
    virtual void setExecuteCaption(const QString& caption) = 0;
    virtual void showSqlWindow() = 0;

    // Shows the customization window modally for one table, with its
    // members mType, mTableName and mSQL set as given.  The window reports
    // through FieldTypes, FieldSizes and CustomizeCancelled (globals.h) and
    // returns its mSQL as the user left it.  A host without windows answers
    // as a cancelled window would.
    virtual QString showCustomization(const QString& mType, const QString& mTableName, const QString& mSQL) = 0;
};

} // namespace qm::mainwindow
