// "Data Type Customization": the user reviews and changes the type each
// field of one source table is to get in the other database.
//
// Direction "FOXPRO" (an Access table going to FoxPro) hands back a type
// code and a size per field through FieldTypes and FieldSizes; direction
// "ACCESS" (a FoxPro table going to Access) hands back the complete
// CREATE TABLE statement in mSQL.  CustomizeCancelled stays True unless the
// user pressed "OK".
#pragma once

#include <QDialog>
#include <QString>

#include <set>

class QGroupBox;
class QListWidget;
class QPushButton;

namespace qm::shell {
class TextBox;
class WindowPointer;
} // namespace qm::shell

namespace qm::customization {

class Form3 : public QDialog {
    Q_OBJECT

public:
    explicit Form3(QWidget* parent = nullptr);
    ~Form3() override;

    // Set by the transfer before exec(); kept after the window closed.
    QString mType;      // "FOXPRO" or "ACCESS": the destination
    QString mTableName; // the source table
    QString mSQL;       // "ACCESS": the statement's start on entry, the whole statement after "OK"

    QPushButton* PushButton3; // "Help"
    QGroupBox* Frame1;        // "Fields"
    QListWidget* List1;
    QGroupBox* Frame2;        // "Data Type"
    QListWidget* List2;
    QGroupBox* Frame3;        // "Change Selected Data Type To This"
    shell::TextBox* Text1;
    QPushButton* PushButton1; // "Apply"
    QPushButton* PushButton2; // "OK"
    QPushButton* PushButton4; // "Cancel"
    shell::WindowPointer* MousePointer;

    // Runs Form_Load, then shows the window modally.
    int exec() override;

    // ---- procedures ----
    void Form_Load();
    void ListFieldsAsFoxPro();
    void ListFieldsAsAccess();
    bool IsValidDataType(const QString& text) const;
    QString UniqueFieldName();

    void List1_Click();
    void List2_Click();
    void PushButton1_Click();
    void PushButton2_Click();
    void PushButton3_Click();
    void PushButton4_Click();

    bool typeChanged() const { return TypeChanged; }

public:
    void reject() override;

private:
    bool Form_QueryUnload();

    bool TypeChanged = false;
    // Replacement names handed out during one "OK", so that two fields
    // whose names read as numbers get two different names.
    std::set<QString> givenNames_;
};

// The checks of "Apply", one per destination.
bool IsValidFoxProDataType(const QString& text);
bool IsValidAccessDataType(const QString& text);

} // namespace qm::customization
