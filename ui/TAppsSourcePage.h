#pragma once

// The first page of the application-data wizard ("What do you want to backup?"): a tree of
// categories and the applications of the definitions, each with a check box.

#include "jobs/appdata/AppDefinitions.h"

#include <QStringList>
#include <QWidget>

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;
class TAppPathResolver;

class TAppsSourcePage : public QWidget {
    Q_OBJECT

public:
    explicit TAppsSourcePage(QWidget* parent = nullptr);

    // Rebuilds the tree from definitions in their order. Applications without data on this
    // computer (as resolver judges it) stay in the tree, greyed and not tickable unless a job
    // already holds them, so a user sees what the program knows and an edited job keeps them.
    void Build(const QList<TAppData>& definitions, const TAppPathResolver& resolver);

    // Ticks the applications named in names; returns nothing: names the tree does not hold are
    // kept aside and given back by AppNames().
    void SetAppNames(const QStringList& names);
    // The ticked nodes' captions in tree order (a fully ticked category adds its own caption,
    // which matches no definition and is skipped by the runs), then the names of the job this
    // page was opened with that are not in the tree.
    QStringList AppNames() const;

    // False (and the warning shown) when nothing is ticked.
    bool Validate();

    QTreeWidget* TreeView1() const { return m_tree; }
    QLabel* TotalLabel() const { return m_total; }
    // The application node named name, or null.
    QTreeWidgetItem* AppItem(const QString& name) const;
    // The category node with caption caption (as shown), or null.
    QTreeWidgetItem* CategoryItem(const QString& caption) const;

private:
    void OnItemChanged(QTreeWidgetItem* item, int column);
    void UpdateCategoryState(QTreeWidgetItem* category);

    QLabel* m_total = nullptr;
    QTreeWidget* m_tree = nullptr;
    QStringList m_kept;       // names of the job that match no node of the tree
    QStringList m_categories; // captions of the category nodes, as built
    bool m_updating = false;
};
