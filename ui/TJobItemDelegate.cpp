#include "ui/TJobItemDelegate.h"

#include "ui/TJobCard.h"
#include "ui/TJobListModel.h"
#include "ui/TJobListView.h"

#include "core/settings/TAppGlobals.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

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
    if (option.state.testFlag(QStyle::State_HasFocus)) {
        // The keyboard's place in the list, as every item view shows it.
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect = option.rect.adjusted(2, 2, -2, -2);
        focus.backgroundColor = option.palette.color(selected ? QPalette::Highlight : QPalette::Base);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}

QSize TJobItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(m_view->ItemHeight());
    return size;
}
