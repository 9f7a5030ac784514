#pragma once

#include "ui/JobFilter.h"

#include <QObject>

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

// The filter tree of the main window: one node per job filter under the "Jobs" root, which stays
// open. It tells which node the user chose; the window decides what that does to a search.
class TFilterTree : public QObject {
    Q_OBJECT
public:
    explicit TFilterTree(QWidget* parent);

    QTreeWidget* Tree() const { return m_tree; }
    // Every node's caption in the current language.
    void Retranslate();
    // No node is current (a search is shown); nothing is signalled.
    void ClearCurrent();
    bool HasCurrent() const;
    // The filter's node becomes current as if the user chose it (FilterChosen follows).
    void ChooseCurrent(TJobFilter filter);
    // The filter's node becomes current without signalling.
    void MarkCurrent(TJobFilter filter);

Q_SIGNALS:
    // A node became current.
    void FilterChosen(TJobFilter filter);
    // A node was clicked, also the current one.
    void NodeClicked(TJobFilter filter);

private:
    QTreeWidget* m_tree;
    QTreeWidgetItem* m_items[JobFilterCount] = {};
};
