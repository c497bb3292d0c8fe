#include "dataaccess/objectlist.h"

#include "value/value.h"

namespace qm::dataaccess {

ObjectList::ObjectList(QObject* parent) : QAbstractListModel(parent), selection_(this) {}

ObjectList::~ObjectList() = default;

QString ObjectList::List(int row) const
{
    if (row < 0 || row >= ListCount())
        return {};
    return rows_[static_cast<std::size_t>(row)].name;
}

QString ObjectList::kind(int row) const
{
    if (row < 0 || row >= ListCount())
        return {};
    return rows_[static_cast<std::size_t>(row)].kind;
}

void ObjectList::setKind(int row, const QString& kind)
{
    if (row < 0 || row >= ListCount())
        throw qm::Error("Invalid property array index: row " + std::to_string(row) + " is outside the list.");
    rows_[static_cast<std::size_t>(row)].kind = kind;
}

bool ObjectList::Selected(int row) const
{
    if (row < 0 || row >= ListCount())
        return false;
    return selection_.isSelected(index(row));
}

void ObjectList::setSelected(int row, bool selected)
{
    if (row < 0 || row >= ListCount())
        throw qm::Error("Invalid property array index: row " + std::to_string(row) + " is outside the list.");
    selection_.select(index(row), selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
}

int ObjectList::SelCount() const { return static_cast<int>(selection_.selectedIndexes().size()); }

int ObjectList::ListIndex() const
{
    const QModelIndex current = selection_.currentIndex();
    return current.isValid() ? current.row() : -1;
}

void ObjectList::setListIndex(int row)
{
    if (row < 0) {
        selection_.setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        return;
    }
    if (row >= ListCount())
        throw qm::Error("Invalid property value: row " + std::to_string(row) + " is outside the list.");
    // As a list box does, making a row current also selects it.
    selection_.setCurrentIndex(index(row), QItemSelectionModel::Select);
}

void ObjectList::AddItem(const QString& name, const QString& kind)
{
    const int row = ListCount();
    beginInsertRows(QModelIndex(), row, row);
    rows_.push_back(Row{name, kind});
    endInsertRows();
}

void ObjectList::RemoveItem(int row)
{
    if (row < 0 || row >= ListCount())
        throw qm::Error("Invalid procedure call or argument: row " + std::to_string(row) + " is outside the list.");
    beginRemoveRows(QModelIndex(), row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

void ObjectList::Clear()
{
    beginResetModel();
    rows_.clear();
    endResetModel();
    selection_.clear();
}

QStringList ObjectList::kinds() const
{
    QStringList out;
    out.reserve(ListCount());
    for (const Row& r : rows_)
        out.push_back(r.kind);
    return out;
}

QStringList ObjectList::names() const
{
    QStringList out;
    out.reserve(ListCount());
    for (const Row& r : rows_)
        out.push_back(r.name);
    return out;
}

void ObjectList::setRows(const QStringList& names, const QStringList& kinds)
{
    if (names.size() != kinds.size())
        throw qm::Error("A catalog list needs one kind per name.");
    beginResetModel();
    rows_.clear();
    rows_.reserve(static_cast<std::size_t>(names.size()));
    for (qsizetype i = 0; i < names.size(); ++i)
        rows_.push_back(Row{names[i], kinds[i]});
    endResetModel();
    selection_.clear();
}

int ObjectList::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ListCount(); }

QVariant ObjectList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= ListCount())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return rows_[static_cast<std::size_t>(index.row())].name;
    return {};
}

} // namespace qm::dataaccess
