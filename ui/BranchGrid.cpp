#include "ui/BranchGrid.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QStyleOptionHeader>
#include <algorithm>

#include "ui/BranchListModel.h"

namespace ui {

namespace {

constexpr int kIndicatorWidth = 11;

}  // namespace

HoverHeader::HoverHeader(Qt::Orientation orientation, QWidget* parent) : QHeaderView(orientation, parent) {
    // Hover events tell which section the mouse is over and when it leaves.
    viewport()->setAttribute(Qt::WA_Hover);
}

bool HoverHeader::viewportEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::HoverEnter:
        case QEvent::HoverMove:
            setHovered(logicalIndexAt(static_cast<QHoverEvent*>(event)->position().toPoint()));
            break;
        case QEvent::HoverLeave:
        case QEvent::Leave:
            setHovered(-1);
            break;
        default:
            break;
    }
    return QHeaderView::viewportEvent(event);
}

void HoverHeader::setHovered(int section) {
    if (section == hovered_) return;
    const int previous = hovered_;
    hovered_ = section;
    if (previous >= 0) updateSection(previous);
    if (section >= 0) updateSection(section);
}

void HoverHeader::initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const {
    QHeaderView::initStyleOptionForIndex(option, logicalIndex);
    if (logicalIndex != hovered_ || !isEnabled()) return;
    option->state |= QStyle::State_MouseOver;
    const QColor button = option->palette.color(QPalette::Button);
    const QColor light = option->palette.color(QPalette::Highlight);
    // A quarter of the selection colour over the button face.
    option->palette.setColor(QPalette::Button,
                             QColor((3 * button.red() + light.red()) / 4, (3 * button.green() + light.green()) / 4,
                                    (3 * button.blue() + light.blue()) / 4));
}

IndicatorHeader::IndicatorHeader(QWidget* parent) : HoverHeader(Qt::Vertical, parent) {
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
    setHorizontalHeader(new HoverHeader(Qt::Horizontal, this));
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
    // Tab and Shift+Tab move between the cells and wrap around; with no cell
    // to move to they still stay in the grid instead of leaving it.
    if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) event->accept();
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
