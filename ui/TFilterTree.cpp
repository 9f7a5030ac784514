#include "ui/TFilterTree.h"

#include <QSignalBlocker>
#include <QTreeWidget>

namespace {

TJobFilter FilterOf(const QTreeWidgetItem* item) {
    return TJobFilter(item->data(0, Qt::UserRole).toInt());
}

} // namespace

TFilterTree::TFilterTree(QWidget* parent)
    : QObject(parent)
    , m_tree(new QTreeWidget(parent)) {
    m_tree->setObjectName(QStringLiteral("tvFilters"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    for (int filter = 0; filter < JobFilterCount; ++filter) {
        QTreeWidgetItem* parentItem = nullptr;
        if (filter == jfToday || filter == jfThisWeek || filter == jfNext10Days)
            parentItem = m_items[jfScheduled];
        else if (filter != jfJobs)
            parentItem = m_items[jfJobs];
        auto* item = parentItem ? new QTreeWidgetItem(parentItem) : new QTreeWidgetItem(m_tree);
        item->setData(0, Qt::UserRole, filter);
        m_items[filter] = item;
    }
    m_tree->expandAll();
    m_tree->setCurrentItem(m_items[jfJobs]);
    connect(m_tree, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
        if (item == m_items[jfJobs])
            m_tree->expandItem(item); // the root stays open
    });
    connect(m_tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (current)
            Q_EMIT FilterChosen(FilterOf(current));
    });
    connect(m_tree, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { Q_EMIT NodeClicked(FilterOf(item)); });
}

void TFilterTree::Retranslate() {
    for (int filter = 0; filter < JobFilterCount; ++filter)
        m_items[filter]->setText(0, JobFilterCaption(TJobFilter(filter)));
}

void TFilterTree::ClearCurrent() {
    const QSignalBlocker blocker(m_tree);
    m_tree->setCurrentItem(nullptr);
    m_tree->clearSelection();
}

bool TFilterTree::HasCurrent() const {
    return m_tree->currentItem() != nullptr;
}

void TFilterTree::ChooseCurrent(TJobFilter filter) {
    m_tree->setCurrentItem(m_items[filter]);
}

void TFilterTree::MarkCurrent(TJobFilter filter) {
    if (m_tree->currentItem() == m_items[filter])
        return;
    const QSignalBlocker blocker(m_tree);
    m_tree->setCurrentItem(m_items[filter]);
}
