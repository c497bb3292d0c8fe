// Form2, the main window: the Access database's tables and queries on the
// left, the FoxPro tables and views on the right.
//
// From here the user selects entries and sends them to the other side,
// deletes them, renames an Access table or query, goes back to the
// connection window or asks for help.  Closing it ends the program.  The
// window is the host of both transfers (transferhost.h): they read and
// change its lists, boxes, progress bar and pointer directly.
#pragma once

#include "dataaccess/objectlist.h"
#include "mainwindow/transferhost.h"
#include "shell/chrome.h"
#include "sqlwindow/scriptbuffer.h"

#include <QStringList>
#include <QWidget>

#include <memory>

class QCheckBox;
class QGroupBox;
class QListView;
class QProgressBar;
class QPushButton;

namespace qm::shell {
class Form1;
}
namespace qm::sqlwindow {
class Form4;
}

namespace qm::mainwindow {

class Form2 : public QWidget, public TransferHost {
    Q_OBJECT

public:
    // connectionWindow is where "< Back" leads.
    explicit Form2(shell::Form1* connectionWindow, QWidget* parent = nullptr);
    ~Form2() override;

    // ---- controls ----
    QGroupBox* Frame1;         // "Access Tables & Queries"
    QListView* List1;          // Access tables and queries
    QPushButton* PushButton10; // "Select All" (List1)
    QPushButton* PushButton11; // "Deselect All" (List1)
    QPushButton* PushButton3;  // "Send Table/s To FoxPro"
    QCheckBox* Check15;        // "Send with data type customization" (to FoxPro)
    QPushButton* PushButton1;  // "Delete Tables / Queries" (Access)
    QPushButton* PushButton6;  // "Rename Table / Query" (Access)
    QGroupBox* Frame2;         // "FoxPro Tables & Queries"
    QListView* List2;          // FoxPro tables and views
    QPushButton* PushButton8;  // "Select All" (List2)
    QPushButton* PushButton9;  // "Deselect All" (List2)
    QPushButton* PushButton4;  // "Send Table/s To Access"
    QCheckBox* Check16;        // "Send with data type customization" (to Access)
    QPushButton* PushButton5;  // "Delete Tables / Queries" (FoxPro)
    QPushButton* PushButton7;  // "Rename Table / Query" (FoxPro): no action
    QProgressBar* ProgressBar1;
    QPushButton* PushButton2;  // "< Back"
    QPushButton* PushButton12; // "Help"

    // The rows of List1 and List2, each with its kind.
    dataaccess::ObjectList AccessRows;
    dataaccess::ObjectList FoxProRows;
    // The kind columns of the two lists, one entry per row in row order.
    QStringList AccessObjectKinds() const { return AccessRows.kinds(); }
    QStringList FoxProObjectKinds() const { return FoxProRows.kinds(); }

    shell::WindowPointer* MousePointer;

    // ---- event procedures ----
    void Form_Load();
    void PushButton10_Click(); // select all, Access
    void PushButton11_Click(); // deselect all, Access
    void PushButton8_Click();  // select all, FoxPro
    void PushButton9_Click();  // deselect all, FoxPro
    void Check15_Click();
    void Check16_Click();
    void PushButton2_Click();  // "< Back"
    void PushButton12_Click(); // "Help"
    void PushButton3_Click();  // send to FoxPro
    void PushButton4_Click();  // send to Access
    void PushButton1_Click();  // delete, Access
    void PushButton5_Click();  // delete, FoxPro
    void PushButton6_Click();  // rename, Access
    void Form_Unload();

    // ---- TransferHost ----
    dataaccess::ObjectList& accessList() override { return AccessRows; }
    dataaccess::ObjectList& foxproList() override { return FoxProRows; }
    int check15() const override;
    int check16() const override;
    void setProgress(int percent) override;
    void setPointer(int pointer) override;
    sqlwindow::ScriptBuffer& script() override;
    void setExecuteCaption(const QString& caption) override;
    void showSqlWindow() override;
    QString showCustomization(const QString& mType, const QString& mTableName, const QString& mSQL) override;

    // The SQL window beside this one, made (and loaded) on first use.  One
    // the user closed is made anew, empty, the next time it is needed.
    sqlwindow::Form4& SqlWindow();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    shell::Form1* form1_;
    std::unique_ptr<sqlwindow::Form4> sqlWindow_;
    bool sqlWindowClosed_ = false;
};

// Lets "Next >" of the connection window (and its start-up check) lead to
// the main window: the first time, the main window is made and loaded into
// holder; every time, both lists are filled from the databases the
// connection window names, the main window is shown and the connection
// window hidden.
void ConnectMainWindow(shell::Form1& form1, std::unique_ptr<Form2>& holder);

} // namespace qm::mainwindow
