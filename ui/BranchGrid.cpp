#include "ui/BranchGrid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>

#include "ui/BranchListModel.h"

namespace ui {

namespace {

constexpr int kIndicatorWidth = 11;

}  // namespace

IndicatorHeader::IndicatorHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {
    setSectionsClickable(false);
    setSectionResizeMode(QHeaderView::Fixed);
    setFixedWidth(kIndicatorWidth);
    setMinimumSectionSize(1);
}

void IndicatorHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    QHeaderView::paintSection(painter, rect, logicalIndex);
    if (!model() || !model()->headerData(logicalIndex, Qt::Vertical, BranchListModel::CurrentRowRole).toBool()) return;
    const QPoint centre = rect.center();
    const QPolygon triangle({centre + QPoint(-2, -4), centre + QPoint(2, 0), centre + QPoint(-2, 4)});
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(Qt::NoPen);
    painter->setBrush(palette().color(QPalette::WindowText));
    painter->drawPolygon(triangle);
    painter->restore();
}

BranchGrid::BranchGrid(QWidget* parent) : QTableView(parent) {
    setVerticalHeader(new IndicatorHeader(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(true);
    setShowGrid(true);
    setSortingEnabled(false);
    setWordWrap(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    setFocusPolicy(Qt::StrongFocus);
}

void BranchGrid::setBranchList(BranchListModel* list) {
    list_ = list;
    setModel(list);
    connect(list, &BranchListModel::currentRowChanged, this, &BranchGrid::showCurrentRow);
    // Rows are short single lines: a row as tall as the font, as the titles.
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    // Room for 75 characters of the width of a digit and for the title
    // "Empresa"; with a wider font than the layout's, Banco gives way so
    // both columns stay in sight.
    const int empresaWidth = horizontalHeader()->fontMetrics().horizontalAdvance(QStringLiteral("Empresa")) + 12;
    const int room = width() - 2 * frameWidth() - verticalHeader()->width() - empresaWidth;
    const int bancoWidth = std::min(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 75 + 4, room);
    setColumnWidth(BranchListModel::BancoColumn, bancoWidth);
    setColumnWidth(BranchListModel::EmpresaColumn, empresaWidth);
}

void BranchGrid::keyPressEvent(QKeyEvent* event) {
    emit keyDown(event->key());
    QTableView::keyPressEvent(event);
}

void BranchGrid::mouseReleaseEvent(QMouseEvent* event) {
    const QModelIndex cell = indexAt(event->position().toPoint());
    const bool leftClickOnCell = event->button() == Qt::LeftButton && cell.isValid();
    QTableView::mouseReleaseEvent(event);
    if (leftClickOnCell) emit cellClicked();
}

void BranchGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (list_ && current.isValid()) list_->setCurrentRow(current.row());
}

void BranchGrid::showCurrentRow(int row) {
    if (!list_ || row < 0 || row >= list_->rowCount()) {
        // Past the end or empty: nothing is highlighted.
        if (list_ && list_->rowCount() == 0) clearSelection();
        viewport()->update();
        return;
    }
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    const QModelIndex target = list_->index(row, column);
    if (currentIndex() != target)
        selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    else
        selectionModel()->select(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(target);
}

}  // namespace ui
