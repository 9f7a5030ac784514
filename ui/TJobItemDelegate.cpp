#include "ui/TJobItemDelegate.h"

#include "ui/TJobCard.h"
#include "ui/TJobListModel.h"
#include "ui/TJobListView.h"

#include "core/settings/TAppGlobals.h"

#include <QPainter>

TJobItemDelegate::TJobItemDelegate(TJobListView* view)
    : QStyledItemDelegate(view)
    , m_view(view) {}

void TJobItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const TJob* job = TJobListModel::JobOf(index);
    if (!m_view->IsCardView() || !job) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const TJobCard card(*job, App().Options, option.rect, option.font);
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const TJobCard::TPart hovered = m_view->HoveredRow() == index.row() ? m_view->HoveredPart() : TJobCard::cpNone;
    card.Paint(*painter, selected, hovered, option.palette);
}

QSize TJobItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(m_view->ItemHeight());
    return size;
}
