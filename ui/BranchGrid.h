#pragma once

#include <QHeaderView>
#include <QTableView>

namespace ui {

class BranchListModel;

// A header of the grid whose section under the mouse lights up, as a themed
// header's does. The section is drawn in the style's mouse-over state, which
// the themed styles show; as the built-in styles draw headers without it, the
// section's button colour is lit as well.
class HoverHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit HoverHeader(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    bool viewportEvent(QEvent* event) override;
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override;

private:
    void setHovered(int section);

    int hovered_ = -1;
};

// The narrow column at the left of the grid: a triangle marks the current row.
class IndicatorHeader : public HoverHeader {
    Q_OBJECT
public:
    explicit IndicatorHeader(QWidget* parent = nullptr);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
};

// The grid `DBGrid1` over the branch list: whole-row selection that follows
// the list's current row, no editing in place, titles that do not sort.
class BranchGrid : public QTableView {
    Q_OBJECT
public:
    explicit BranchGrid(QWidget* parent = nullptr);

    void setBranchList(BranchListModel* list);

signals:
    // Every key press, before the grid handles it itself.
    void keyDown(int key);
    // A left click on a data cell, after it has become the current row.
    void cellClicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void showCurrentRow(int row);

    BranchListModel* list_ = nullptr;
};

}  // namespace ui
