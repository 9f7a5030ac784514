#pragma once

#include <QStyledItemDelegate>

class TJobListView;

// Draws the rows of the job list: a whole card in card view, the plain cells in table view, at
// the view's scaled item height.
class TJobItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TJobItemDelegate(TJobListView* view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    TJobListView* m_view;
};
