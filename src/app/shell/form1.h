// Form1, the connection window: the program's first window.
//
// Here the user names the Access database (file and optional password) and
// the FoxPro source (a database container file or a folder of free tables),
// can test the FoxPro source, and moves on with "Next >".  Its fields are
// the connection settings of the whole run: the window stays alive, hidden,
// while the other windows are in use, and everything that opens a
// connection reads Text1..Text4 and Option1 from it at that moment.
#pragma once

#include "shell/chrome.h"
#include "shell/controls.h"

#include <QWidget>

#include <functional>

class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace qm::shell {

class Form1 : public QWidget {
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // ---- controls, top to bottom ----
    QGroupBox* Frame1;        // "FoxPro Login"
    QRadioButton* Option1;    // "DBC File:"
    TextBox* Text1;           // database container path
    QPushButton* PushButton5; // "..." browse for the container
    QRadioButton* Option2;    // "Free Table Folder:"
    TextBox* Text2;           // free-table folder
    QPushButton* PushButton4; // "..." browse for the folder
    QPushButton* PushButton3; // "Test Connection"
    QPushButton* PushButton6; // "Help"
    QGroupBox* Frame2;        // "Access Database"
    QLabel* Label5;           // "MDB or ACCDB File:"
    TextBox* Text3;           // Access database path
    QPushButton* PushButton1; // "..." browse for the Access file
    QLabel* lblPassword;      // "Password (if required):"
    TextBox* Text4;           // Access password, shown as "*"
    QPushButton* PushButton7; // "Load Sample/Example Database"
    QPushButton* PushButton2; // "Next >"

    // The window's pointer (default, hourglass, or the hand over buttons).
    WindowPointer* MousePointer;

    // Runs once when the main window is to take over: NextAction calls it
    // when the Access file exists and the FoxPro source opens.  It fills the
    // main window's lists, shows that window and hides this one.  While it
    // is not set, NextAction leaves the window where it is.
    std::function<void()> OpenMainWindow;

    // The file the program was started with (the desktop's "Open with"):
    // Form_Load puts it into its field after restoring the remembered ones
    // and before the start-up check, as OpenGivenFile does.
    QString GivenFile;

    // Start-up: Form_Load, then the window is shown unless the start-up
    // check already went on to the main window.
    void Start();
    bool wentToMainWindow() const { return wentToMainWindow_; }

    // ---- procedures ----
    void Form_Load();
    void NextAction();
    // A file named from outside goes into the field for it, as if browsed
    // for: an .mdb or .accdb into the Access box, a .dbc into the container
    // box with "DBC File:" selected, a .dbf's folder into the folder box with
    // "Free Table Folder:" selected (each stored as a click or change would
    // store it).  Anything else is refused with a message naming the file.
    void OpenGivenFile(const QString& path);

    // ---- event procedures ----
    void Text1_Change();
    void Text2_Change();
    void Text3_Change();
    void Text4_Change();
    void Text1_GotFocus();
    void Text2_GotFocus();
    void Text3_GotFocus();
    void Option1_Click();
    void Option2_Click();
    void PushButton1_Click(); // browse for the Access file
    void PushButton2_Click(); // "Next >"
    void PushButton3_Click(); // "Test Connection"
    void PushButton4_Click(); // browse for the folder
    void PushButton5_Click(); // browse for the container
    void PushButton6_Click(); // "Help"
    void PushButton7_Click(); // "Load Sample/Example Database"
    void Form_Unload();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool wentToMainWindow_ = false;
};

} // namespace qm::shell
