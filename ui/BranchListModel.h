#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <vector>

#include "transfer/ConversionRun.h"

namespace ui {

// The branch database list `cdsBancos`: entries with the path `Banco` and
// the company code `Empresa`, kept in the order they were added, and one
// current row shared by the grid and by the code that walks the list (the
// duplicate check, the conversion run).
//
// A walk (first, then next until eof) reaches every entry once, in list
// order, even when the grid changes the list or the current row in the
// middle of it, as it may while a run processes events: first() starts a
// new walk, and next() makes current the first entry in list order that
// this walk has not reached yet. So an entry removed before the walk reached
// it is not processed, removing the entry being processed lets its job go
// on and the walk continue with the entries after it, and a click that
// moves the current row neither repeats nor skips an entry.
//
// After a removal the entry that took the removed one's place becomes
// current, or the one before it when the last entry was removed.
class BranchListModel : public QAbstractTableModel, public transfer::BranchList {
    Q_OBJECT
public:
    enum Column { BancoColumn = 0, EmpresaColumn = 1 };
    // Vertical header role: true on the current row (the grid's indicator).
    static constexpr int CurrentRowRole = Qt::UserRole + 1;

    explicit BranchListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Appends an entry and makes it current.
    void append(const QString& banco, const QString& empresa);
    // Removes the current entry; nothing on an empty list.
    void removeCurrent();
    // Removes every entry; the list stays usable and empty.
    void clear();

    // The current row, -1 on an empty list; count() when past the end.
    int currentRow() const { return cursor_; }
    void setCurrentRow(int row);

    QString currentBanco() const;
    QString currentEmpresa() const;

    // transfer::BranchList
    int count() const override;
    void first() override;
    bool eof() const override;
    void next() override;
    std::string banco() const override;
    std::string empresa() const override;

signals:
    void currentRowChanged(int row);

private:
    struct Entry {
        QString banco;
        QString empresa;
        bool reached = false;  // by the walk in progress
    };

    void moveCursor(int row);
    // Tells the grid that the current row is now cursor_ (it was `previous`).
    void announceCursor(int previous);
    bool onEntry() const { return cursor_ >= 0 && cursor_ < static_cast<int>(entries_.size()); }

    std::vector<Entry> entries_;
    int cursor_ = -1;
};

}  // namespace ui
