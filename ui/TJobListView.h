#pragma once

#include "ui/TJobCard.h"

#include <QTreeView>

class TJob;

// The job list (lbJobsList): cards or a table over TJobListModel. Hidden rows are the jobs the
// filter or search leaves out. Up and Down move between visible rows and every other key is left
// to the window; the right button selects the row under the mouse before the context menu; a
// card's links react to the mouse (hand cursor, no underline while hovered) and emit
// LinkActivated.
class TJobListView : public QTreeView {
    Q_OBJECT
public:
    explicit TJobListView(QWidget* parent = nullptr);

    void SetCardView(bool cards);
    bool IsCardView() const { return m_cards; }
    // Item heights scaled by the screen's pixels per inch / 96.
    int ItemHeight() const;

    TJob* JobAtRow(int row) const;
    TJob* CurrentJob() const;
    int CurrentRow() const;
    void SelectRow(int row);
    // The card of a row as it is drawn now (card view).
    TJobCard CardOfRow(int row) const;

    int HoveredRow() const { return m_hoverRow; }
    TJobCard::TPart HoveredPart() const { return m_hoverPart; }
    bool CursorOverLink() const { return m_hoverPart != TJobCard::cpNone; }

Q_SIGNALS:
    void LinkActivated(TJob* job, TJobCard::TAction action);
    void ContextMenuWanted(const QPoint& globalPos);
    void JobDoubleClicked(TJob* job);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void UpdateHover(const QPoint& pos);
    int NextVisibleRow(int from, int step) const;

    bool m_cards = true;
    int m_hoverRow = -1;
    TJobCard::TPart m_hoverPart = TJobCard::cpNone;
};
