#include "ui/TJobListView.h"

#include "ui/TJobItemDelegate.h"
#include "ui/TJobListModel.h"

#include "core/settings/TAppGlobals.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

TJobListView::TJobListView(QWidget* parent)
    : QTreeView(parent) {
    setObjectName(QStringLiteral("lbJobsList"));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setMouseTracking(true);
    setItemDelegate(new TJobItemDelegate(this));
    header()->setStretchLastSection(true);
    header()->setSectionsMovable(false);
}

int TJobListView::ItemHeight() const {
    const int designed = m_cards ? TJobCard::ItemHeight : 26;
    return qRound(designed * logicalDpiY() / 96.0);
}

void TJobListView::SetCardView(bool cards) {
    m_cards = cards;
    header()->setVisible(!cards);
    for (int column = TJobListModel::colType; column < TJobListModel::ColumnCount; ++column)
        setColumnHidden(column, cards);
    if (!cards && header()->sectionSize(TJobListModel::colTitle) < 150)
        header()->resizeSection(TJobListModel::colTitle, 200);
    m_hoverRow = -1;
    m_hoverPart = TJobCard::cpNone;
    unsetCursor();
    // The uniform row height is measured again from the delegate.
    doItemsLayout();
    viewport()->update();
}

TJob* TJobListView::JobAtRow(int row) const {
    return model() ? TJobListModel::JobOf(model()->index(row, 0)) : nullptr;
}

int TJobListView::CurrentRow() const {
    const QModelIndex index = currentIndex();
    return index.isValid() && selectionModel() && selectionModel()->isRowSelected(index.row(), QModelIndex())
               ? index.row()
               : -1;
}

TJob* TJobListView::CurrentJob() const {
    return JobAtRow(CurrentRow());
}

void TJobListView::SelectRow(int row) {
    if (!model())
        return;
    if (row < 0 || row >= model()->rowCount()) {
        clearSelection();
        setCurrentIndex(QModelIndex());
        return;
    }
    const QModelIndex index = model()->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
}

TJobCard TJobListView::CardOfRow(int row) const {
    const QModelIndex index = model()->index(row, 0);
    return TJobCard(*JobAtRow(row), App().Options, visualRect(index), font());
}

int TJobListView::NextVisibleRow(int from, int step) const {
    const int count = model() ? model()->rowCount() : 0;
    for (int row = from + step; row >= 0 && row < count; row += step)
        if (!isRowHidden(row, QModelIndex()))
            return row;
    return -1;
}

void TJobListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Up && event->key() != Qt::Key_Down) {
        event->ignore();
        return;
    }
    const int current = CurrentRow();
    const int step = event->key() == Qt::Key_Up ? -1 : 1;
    int row = NextVisibleRow(current, step);
    if (current < 0 && step < 0)
        row = NextVisibleRow(model() ? model()->rowCount() : 0, -1);
    if (row >= 0)
        SelectRow(row);
    event->accept();
}

void TJobListView::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::RightButton) {
        // The context menu is for the row under the mouse: select it first.
        if (index.isValid())
            SelectRow(index.row());
        event->accept();
        return;
    }
    QTreeView::mousePressEvent(event);
    if (event->button() != Qt::LeftButton || !index.isValid() || !m_cards)
        return;
    const TJobCard card = CardOfRow(index.row());
    const TJobCard::TAction action = card.ActionOf(card.PartAt(event->position().toPoint()));
    if (action != TJobCard::caNone)
        Q_EMIT LinkActivated(JobAtRow(index.row()), action);
}

void TJobListView::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || !index.isValid())
        return;
    if (m_cards) {
        const TJobCard card = CardOfRow(index.row());
        if (card.PartAt(event->position().toPoint()) != TJobCard::cpNone)
            return;
    }
    Q_EMIT JobDoubleClicked(JobAtRow(index.row()));
}

void TJobListView::mouseMoveEvent(QMouseEvent* event) {
    UpdateHover(event->position().toPoint());
    QTreeView::mouseMoveEvent(event);
}

void TJobListView::leaveEvent(QEvent* event) {
    UpdateHover(QPoint(-1, -1));
    QTreeView::leaveEvent(event);
}

void TJobListView::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Mouse) {
        const QModelIndex index = indexAt(event->pos());
        if (index.isValid())
            SelectRow(index.row());
    }
    Q_EMIT ContextMenuWanted(event->globalPos());
    event->accept();
}

void TJobListView::UpdateHover(const QPoint& pos) {
    int row = -1;
    TJobCard::TPart part = TJobCard::cpNone;
    const QModelIndex index = indexAt(pos);
    if (m_cards && index.isValid()) {
        row = index.row();
        part = CardOfRow(row).PartAt(pos);
    }
    if (row == m_hoverRow && part == m_hoverPart)
        return;
    const int oldRow = m_hoverRow;
    m_hoverRow = row;
    m_hoverPart = part;
    if (part != TJobCard::cpNone)
        viewport()->setCursor(Qt::PointingHandCursor);
    else
        viewport()->unsetCursor();
    for (int changed : {oldRow, row})
        if (changed >= 0 && model())
            viewport()->update(visualRect(model()->index(changed, 0)).adjusted(-4000, 0, 4000, 0));
}
