#include "ui/BranchListModel.h"

#include <algorithm>

namespace ui {

BranchListModel::BranchListModel(QObject* parent) : QAbstractTableModel(parent) {}

int BranchListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int BranchListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant BranchListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
    const Entry& entry = entries_[static_cast<std::size_t>(index.row())];
    return index.column() == BancoColumn ? entry.banco : entry.empresa;
}

QVariant BranchListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (role != Qt::DisplayRole) return {};
        return section == BancoColumn ? QStringLiteral("Banco") : QStringLiteral("Empresa");
    }
    if (role == CurrentRowRole) return section == cursor_;
    if (role == Qt::DisplayRole) return QString();
    return {};
}

Qt::ItemFlags BranchListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

void BranchListModel::append(const QString& banco, const QString& empresa) {
    const int row = rowCount();
    beginInsertRows(QModelIndex(), row, row);
    entries_.push_back(Entry{banco, empresa, false});
    endInsertRows();
    // A walk that ended past the last entry left the cursor on this row
    // number already; the grid must still be told.
    const int previous = cursor_;
    cursor_ = row;
    announceCursor(previous);
}

void BranchListModel::removeCurrent() {
    if (!onEntry()) return;
    const int removed = cursor_;
    beginRemoveRows(QModelIndex(), removed, removed);
    entries_.erase(entries_.begin() + removed);
    endRemoveRows();
    // The grid may have moved the cursor while the row went; the rule below
    // decides, whatever it did.
    const int previous = cursor_;
    const int remaining = rowCount();
    cursor_ = removed < remaining ? removed : remaining - 1;
    announceCursor(previous);
}

void BranchListModel::clear() {
    beginResetModel();
    entries_.clear();
    endResetModel();
    moveCursor(-1);
}

void BranchListModel::setCurrentRow(int row) {
    if (row < 0 || row >= rowCount()) return;
    moveCursor(row);
}

QString BranchListModel::currentBanco() const {
    return onEntry() ? entries_[static_cast<std::size_t>(cursor_)].banco : QString();
}

QString BranchListModel::currentEmpresa() const {
    return onEntry() ? entries_[static_cast<std::size_t>(cursor_)].empresa : QString();
}

int BranchListModel::count() const { return rowCount(); }

void BranchListModel::first() {
    for (Entry& entry : entries_) entry.reached = false;
    if (entries_.empty()) {
        moveCursor(-1);
        return;
    }
    entries_.front().reached = true;
    moveCursor(0);
}

bool BranchListModel::eof() const { return !onEntry(); }

void BranchListModel::next() {
    const auto unreached =
        std::find_if(entries_.begin(), entries_.end(), [](const Entry& entry) { return !entry.reached; });
    if (unreached != entries_.end()) unreached->reached = true;
    moveCursor(static_cast<int>(unreached - entries_.begin()));
}

std::string BranchListModel::banco() const { return currentBanco().toStdString(); }

std::string BranchListModel::empresa() const { return currentEmpresa().toStdString(); }

void BranchListModel::moveCursor(int row) {
    if (row == cursor_) return;
    const int previous = cursor_;
    cursor_ = row;
    announceCursor(previous);
}

void BranchListModel::announceCursor(int previous) {
    const int last = rowCount() - 1;
    if (last >= 0) {
        const int from = std::clamp(std::min(previous, cursor_), 0, last);
        const int to = std::clamp(std::max(previous, cursor_), 0, last);
        emit headerDataChanged(Qt::Vertical, from, to);
    }
    emit currentRowChanged(cursor_);
}

}  // namespace ui
