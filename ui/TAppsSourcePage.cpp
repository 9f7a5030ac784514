#include "ui/TAppsSourcePage.h"

#include "ui/TMessageBox.h"
#include "ui/UiTr.h"

#include "jobs/appdata/TAppPathResolver.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// Marks an application node (the category nodes carry no role).
constexpr int AppRole = Qt::UserRole + 1;

} // namespace

TAppsSourcePage::TAppsSourcePage(QWidget* parent)
    : QWidget(parent) {
    m_total = new QLabel(this);
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("TreeView1"));
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setUniformRowHeights(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_total);
    layout->addWidget(m_tree, 1);
    connect(m_tree, &QTreeWidget::itemChanged, this, &TAppsSourcePage::OnItemChanged);
}

void TAppsSourcePage::Build(const QList<TAppData>& definitions, const TAppPathResolver& resolver) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_updating = true;
    m_tree->clear();
    m_categories.clear();
    const QString noItems = Tr(u"No items found");
    for (const TAppData& definition : definitions) {
        const QString category = TranslateText(definition.Category);
        QTreeWidgetItem* parent = CategoryItem(category);
        if (parent == nullptr) {
            parent = new QTreeWidgetItem(m_tree, {category});
            parent->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            parent->setCheckState(0, Qt::Unchecked);
            m_categories.append(category);
        }
        auto* item = new QTreeWidgetItem(parent, {definition.Name});
        item->setData(0, AppRole, true);
        item->setCheckState(0, Qt::Unchecked);
        if (resolver.HasData(definition.Folders, definition.RegistryPaths)) {
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            parent->setData(0, AppRole + 1, true); // the category has something to offer
        } else {
            item->setFlags(Qt::ItemIsUserCheckable); // greyed: nothing of it on this computer
            item->setToolTip(0, Tr(u"No data of this application was found on this computer."));
        }
    }
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* category = m_tree->topLevelItem(i);
        if (!category->data(0, AppRole + 1).toBool()) {
            category->setFlags(Qt::ItemIsUserCheckable);
            category->setText(0, category->text(0) + QStringLiteral(" (") + noItems + u')');
        }
    }
    m_total->setText(
        TrFormat(u"Total number of applications in the database: %s", {QString::number(definitions.size())}));
    m_updating = false;
    QApplication::restoreOverrideCursor();
}

QTreeWidgetItem* TAppsSourcePage::CategoryItem(const QString& caption) const {
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i)
        if (m_tree->topLevelItem(i)->text(0) == caption || m_categories.value(i) == caption)
            return m_tree->topLevelItem(i);
    return nullptr;
}

QTreeWidgetItem* TAppsSourcePage::AppItem(const QString& name) const {
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* category = m_tree->topLevelItem(i);
        for (int j = 0; j < category->childCount(); ++j)
            if (category->child(j)->text(0) == name)
                return category->child(j);
    }
    return nullptr;
}

void TAppsSourcePage::SetAppNames(const QStringList& names) {
    m_updating = true;
    m_kept.clear();
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* category = m_tree->topLevelItem(i);
        for (int j = 0; j < category->childCount(); ++j) {
            QTreeWidgetItem* item = category->child(j);
            const bool ticked = names.contains(item->text(0));
            item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
            // A greyed application the job holds stays tickable, so the user can drop it.
            if (ticked) {
                item->setFlags(item->flags() | Qt::ItemIsEnabled);
                category->setFlags(category->flags() | Qt::ItemIsEnabled);
            }
        }
    }
    for (const QString& name : names)
        if (AppItem(name) == nullptr && !m_categories.contains(name) && !m_kept.contains(name))
            m_kept.append(name);
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i)
        UpdateCategoryState(m_tree->topLevelItem(i));
    m_updating = false;
}

QStringList TAppsSourcePage::AppNames() const {
    QStringList names;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* category = m_tree->topLevelItem(i);
        if (category->checkState(0) == Qt::Checked)
            names.append(m_categories.value(i));
        for (int j = 0; j < category->childCount(); ++j)
            if (category->child(j)->checkState(0) == Qt::Checked)
                names.append(category->child(j)->text(0));
    }
    return names + m_kept;
}

bool TAppsSourcePage::Validate() {
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* category = m_tree->topLevelItem(i);
        if (category->checkState(0) != Qt::Unchecked)
            return true;
    }
    TMessageBox::Warning(this, Tr(u"Please add one or more sources to the list"));
    return false;
}

void TAppsSourcePage::OnItemChanged(QTreeWidgetItem* item, int column) {
    if (m_updating || column != 0)
        return;
    m_updating = true;
    if (item->parent() == nullptr) {
        // A category ticks or clears the applications that can be chosen; greyed ones stay.
        const Qt::CheckState state = item->checkState(0) == Qt::Unchecked ? Qt::Unchecked : Qt::Checked;
        for (int j = 0; j < item->childCount(); ++j)
            if (item->child(j)->flags().testFlag(Qt::ItemIsEnabled))
                item->child(j)->setCheckState(0, state);
        UpdateCategoryState(item);
    } else {
        UpdateCategoryState(item->parent());
    }
    m_updating = false;
}

void TAppsSourcePage::UpdateCategoryState(QTreeWidgetItem* category) {
    int ticked = 0;
    int choosable = 0;
    for (int j = 0; j < category->childCount(); ++j) {
        QTreeWidgetItem* child = category->child(j);
        if (child->checkState(0) == Qt::Checked)
            ++ticked;
        if (child->flags().testFlag(Qt::ItemIsEnabled))
            ++choosable;
    }
    Qt::CheckState state = Qt::Unchecked;
    if (ticked > 0)
        state = ticked >= choosable ? Qt::Checked : Qt::PartiallyChecked;
    category->setCheckState(0, state);
}
