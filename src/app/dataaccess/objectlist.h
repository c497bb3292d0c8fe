// The rows of one of the main window's catalog lists, each with its kind.
//
// A row is a name exactly as the catalog gives it and its kind, "TABLE" or
// "VIEW" (an Access query or a FoxPro view).  The kind travels with its row:
// removing a row removes its kind, a row added later carries the kind it was
// added with, so reading the kind of row i always reads that row's kind.
//
// The list also keeps which rows are selected (several, in the extended
// manner of the window's list box) and which row is current.  It is a Qt
// item model, so the main window's list view shows it as it is, and a
// headless caller (the command line, a test) uses the same rows and
// selection without any window.
#pragma once

#include <QAbstractListModel>
#include <QItemSelectionModel>
#include <QString>
#include <QStringList>

#include <vector>

namespace qm::dataaccess {

inline const QString kKindTable = QStringLiteral("TABLE");
inline const QString kKindView = QStringLiteral("VIEW");

class ObjectList : public QAbstractListModel {
    Q_OBJECT

public:
    explicit ObjectList(QObject* parent = nullptr);
    ~ObjectList() override;

    // ---- the list box's own vocabulary ----
    int ListCount() const { return static_cast<int>(rows_.size()); }
    QString List(int row) const;              // the name in row; "" outside the list
    bool Selected(int row) const;
    void setSelected(int row, bool selected);
    int SelCount() const;
    int ListIndex() const;                    // the current row, -1 for none
    void setListIndex(int row);               // -1 clears the current row
    void AddItem(const QString& name, const QString& kind); // at the end
    void RemoveItem(int row);
    void Clear();

    // ---- the kind list beside the rows ----
    QString kind(int row) const;              // "" outside the list
    void setKind(int row, const QString& kind);
    QStringList kinds() const;                // one per row, in row order
    QStringList names() const;

    // Replaces every row at once (a whole catalog read): one model reset
    // instead of one insertion per row.  kinds must be as long as names.
    void setRows(const QStringList& names, const QStringList& kinds);

    // The selection and current row the list view shares.
    QItemSelectionModel* selectionModel() { return &selection_; }

    // ---- QAbstractListModel ----
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    struct Row {
        QString name;
        QString kind;
    };
    std::vector<Row> rows_;
    QItemSelectionModel selection_;
};

} // namespace qm::dataaccess
