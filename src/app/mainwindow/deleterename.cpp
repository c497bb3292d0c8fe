// The main window's delete and rename buttons.
//
// Each opens its own connection, issues its statements one at a time and
// keeps the list in step row by row, without reading the catalog again.  A
// row carries its kind, so removing or moving a row moves its kind with it.

#include "ado/ado.h"
#include "dataaccess/access.h"
#include "dataaccess/connectionstrings.h"
#include "mainwindow/form2.h"
#include "shell/dialogs.h"
#include "shell/errorreport.h"
#include "storage/storage.h"

#include <functional>

namespace qm::mainwindow {

using dataaccess::kKindView;
using shell::ErrorHandler;
using shell::PointerKind;

namespace {

// Both delete buttons: nothing without a current row; otherwise every
// selected row, from the last to the first (so the rows still to come keep
// their places), has its statement executed and leaves the list.  A failed
// statement is reported and its row goes all the same: the next reading of
// the catalog shows it again.
void deleteSelectedRows(ErrorHandler& h, dataaccess::ObjectList& rows, ado::Connection& connection,
                        const std::function<QString(int)>& statementFor)
{
    if (rows.ListIndex() < 0) {
        h.run(30, [&] { shell::MsgBox(QStringLiteral("Please select a table")); });
        return;
    }
    for (int i = rows.ListCount() - 1; i >= 0; --i) {
        if (!rows.Selected(i))
            continue;
        h.run(40, [&] { connection.Execute(statementFor(i).toStdString()); });
        h.run(50, [&] { rows.RemoveItem(i); });
    }
}

} // namespace

// "Delete Tables / Queries", Access side.
void Form2::PushButton1_Click()
{
    ErrorHandler h(QStringLiteral("Form2.PushButton1_Click"));
    ado::Connection connection;
    h.run(10, [&] { MousePointer->setKind(PointerKind::Hourglass); });
    h.run(20, [&] {
        connection.CursorLocation = ado::adUseServer;
        connection.Mode = ado::adModeReadWrite;
        connection.Open(dataaccess::AccessConnectionString(QString(), QString()).toStdString());
    });
    // A saved query goes as a query: DROP VIEW never reaches a table.
    deleteSelectedRows(h, AccessRows, connection, [&](int i) {
        return (AccessRows.kind(i) == kKindView ? QStringLiteral("DROP VIEW ") : QStringLiteral("DROP TABLE ")) +
               dataaccess::QuotedName(AccessRows.List(i)) + QStringLiteral(";");
    });
    h.run(60, [&] { MousePointer->setKind(PointerKind::Default); });
}

// "Delete Tables / Queries", FoxPro side.
void Form2::PushButton5_Click()
{
    ErrorHandler h(QStringLiteral("Form2.PushButton5_Click"));
    ado::Connection connection;
    bool container = true;
    h.run(10, [&] { MousePointer->setKind(PointerKind::Hourglass); });
    h.run(20, [&] {
        connection.CursorLocation = ado::adUseServer;
        container = dataaccess::ConnectionWindowFields().option1;
        connection.Open(dataaccess::FoxProConnectionString().toStdString());
    });
    deleteSelectedRows(h, FoxProRows, connection, [&](int i) {
        const bool view = container && FoxProRows.kind(i) == kKindView;
        return (view ? QStringLiteral("DROP VIEW ") : QStringLiteral("DROP TABLE ")) +
               dataaccess::QuotedName(FoxProRows.List(i));
    });
    h.run(60, [&] { MousePointer->setKind(PointerKind::Default); });
}

// "Rename Table / Query", Access side.
void Form2::PushButton6_Click()
{
    ErrorHandler h(QStringLiteral("Form2.PushButton6_Click"));
    if (AccessRows.SelCount() != 1) {
        h.run(10, [&] { shell::MsgBox(QStringLiteral("Please select just one table to rename.")); });
        return;
    }
    h.run(20, [&] { shell::DoEvents(); });
    if (AccessRows.ListIndex() < 0) {
        h.run(30, [&] { shell::MsgBox(QStringLiteral("Please select a table to rename.")); });
        return;
    }
    h.run(40, [&] { MousePointer->setKind(PointerKind::Hourglass); });
    int row = -1;
    QString oldName, kind;
    for (int i = 0; i < AccessRows.ListCount(); ++i) {
        if (AccessRows.Selected(i)) {
            row = i;
            oldName = AccessRows.List(i);
            kind = AccessRows.kind(i);
        }
    }
    QString newName;
    h.run(50, [&] {
        newName = shell::Dialogs().inputBox(this, QStringLiteral("Enter new name of ") + oldName + QStringLiteral(":"),
                                            QString(), oldName);
    });
    // The same name again renames nothing and leaves the row where it is.
    if (!newName.isEmpty() && newName != oldName) {
        QString path, password;
        h.run(60, [&] {
            const dataaccess::ConnectionFields fields = dataaccess::ConnectionWindowFields();
            path = fields.text3;
            password = fields.text4;
        });
        // The row moves to the end under its new name, with its kind, only
        // when the database took the new name.
        bool renamed = false;
        if (kind == kKindView) {
            renamed = h.run(70, [&] { dataaccess::RenameAccessObject(oldName, newName, path, password); });
        } else {
            h.run(80, [&] { renamed = dataaccess::RenameAccessTable(oldName, newName, path, password); });
        }
        if (renamed) {
            h.run(90, [&] {
                AccessRows.RemoveItem(row);
                // A table the rename overwrote is gone from the list as well.
                for (int i = AccessRows.ListCount() - 1; i >= 0; --i)
                    if (kind != kKindView && AccessRows.kind(i) != kKindView &&
                        storage::namesEqual(AccessRows.List(i).toStdString(), newName.toStdString()))
                        AccessRows.RemoveItem(i);
                AccessRows.AddItem(newName, kind);
            });
        }
    }
    h.run(100, [&] { MousePointer->setKind(PointerKind::Default); });
}

} // namespace qm::mainwindow
