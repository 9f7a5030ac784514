#include "ui/TSourceTree.h"

#include "ui/TDriveCombo.h"

#include <QAbstractFileIconProvider>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QListWidget>
#include <QStandardPaths>
#include <QTreeView>

namespace {

bool IsBelow(const QString& path, const QString& folder) {
    if (folder == QStringLiteral("/"))
        return path != folder && path.startsWith(u'/');
    return path.size() > folder.size() && path.startsWith(folder) && path.at(folder.size()) == u'/';
}

QString ParentOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString Join(const QString& folder, const QString& name) {
    return folder == QStringLiteral("/") ? QString(u'/' + name) : QString(folder + u'/' + name);
}

} // namespace

TCheckableFileModel::TCheckableFileModel(QObject* parent)
    : QIdentityProxyModel(parent)
    , m_files(new QFileSystemModel(this)) {
    m_files->setFilter(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::AllDirs);
    m_files->setReadOnly(true);
    m_files->setRootPath(QString());
    setSourceModel(m_files);
}

QString TCheckableFileModel::PathOf(const QModelIndex& index) const {
    return m_files->filePath(mapToSource(index));
}

Qt::ItemFlags TCheckableFileModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QIdentityProxyModel::flags(index);
    if (index.isValid() && index.column() == 0)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant TCheckableFileModel::data(const QModelIndex& index, int role) const {
    if (role == Qt::CheckStateRole && index.column() == 0)
        return int(CheckState(PathOf(index)));
    return QIdentityProxyModel::data(index, role);
}

bool TCheckableFileModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != 0)
        return QIdentityProxyModel::setData(index, value, role);
    SetChecked(PathOf(index), Qt::CheckState(value.toInt()) == Qt::Checked);
    return true;
}

Qt::CheckState TCheckableFileModel::CheckState(const QString& path) const {
    bool below = false;
    for (const QString& checked : m_checked) {
        if (checked == path || IsBelow(path, checked))
            return Qt::Checked;
        below = below || IsBelow(checked, path);
    }
    return below ? Qt::PartiallyChecked : Qt::Unchecked;
}

void TCheckableFileModel::SetChecked(const QString& path, bool checked) {
    if (path.isEmpty())
        return;
    const QStringList before = m_checked;
    // Ticks below the item are covered by it now, or go with it.
    m_checked.removeIf([&](const QString& other) { return IsBelow(other, path); });
    QString ancestor;
    for (const QString& other : std::as_const(m_checked))
        if (IsBelow(path, other))
            ancestor = other;
    if (checked) {
        if (ancestor.isEmpty() && !m_checked.contains(path))
            m_checked.append(path);
    } else if (!ancestor.isEmpty()) {
        // The ticked folder gives way to everything beside the path on the way down.
        m_checked.removeAll(ancestor);
        QString keep = path;
        while (keep != ancestor) {
            const QString folder = ParentOf(keep);
            const QString skip = keep.mid(keep.lastIndexOf(u'/') + 1);
            const QStringList names = QDir(folder).entryList(
                QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
            for (const QString& name : names)
                if (name != skip)
                    m_checked.append(Join(folder, name));
            keep = folder;
        }
    } else {
        m_checked.removeAll(path);
    }
    if (m_checked == before)
        return;
    // Every row may show another state (its own, an ancestor's or a descendant's tick): the view
    // repaints on ChecksChanged.
    Q_EMIT ChecksChanged();
}

void TCheckableFileModel::ClearChecks() {
    if (m_checked.isEmpty())
        return;
    m_checked.clear();
    Q_EMIT ChecksChanged();
}

QStringList TCheckableFileModel::Entries() const {
    QStringList entries;
    for (const QString& path : m_checked) {
        if (QFileInfo(path).isDir())
            entries.append(path == QStringLiteral("/") ? QStringLiteral("/*") : path + QStringLiteral("/*"));
        else
            entries.append(path);
    }
    return entries;
}

void TCheckableFileModel::SetEntries(const QStringList& entries) {
    m_checked.clear();
    for (const QString& entry : entries) {
        QString path = entry;
        if (path.endsWith(QStringLiteral("/*"))) {
            path.chop(2);
            if (path.isEmpty())
                path = QStringLiteral("/");
        }
        const QFileInfo info(path);
        if ((info.exists() || info.isSymLink()) && !m_checked.contains(path))
            m_checked.append(path);
    }
    Q_EMIT ChecksChanged();
}

TSourceTree::TSourceTree(QWidget* parent)
    : QWidget(parent)
    , m_model(new TCheckableFileModel(this))
    , m_places(new QListWidget(this))
    , m_tree(new QTreeView(this)) {
    setObjectName(QStringLiteral("SourceTreeControl"));
    m_places->setObjectName(QStringLiteral("lbPlaces"));
    m_tree->setObjectName(QStringLiteral("SourceTree"));
    m_tree->setModel(m_model);
    m_tree->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_tree->hideColumn(column);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_tree->header()->setStretchLastSection(false);
    m_places->setMaximumWidth(190);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_places);
    layout->addWidget(m_tree, 1);
    FillPlaces();
    connect(m_places, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { Reveal(item->data(Qt::UserRole).toString()); });
    connect(m_model, &TCheckableFileModel::ChecksChanged, this, [this] {
        m_tree->viewport()->update();
        Q_EMIT SelectionChanged();
    });
}

QStringList TSourceTree::PlacePaths() {
    QStringList paths{QDir::homePath()};
    for (QStandardPaths::StandardLocation location :
         {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation, QStandardPaths::DownloadLocation,
          QStandardPaths::MusicLocation, QStandardPaths::PicturesLocation, QStandardPaths::MoviesLocation}) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && QFileInfo(path).isDir() && !paths.contains(path))
            paths.append(path);
    }
    for (const TVolume& volume : MountedVolumes())
        if (volume.RootPath != QStringLiteral("/") && !paths.contains(volume.RootPath))
            paths.append(volume.RootPath);
    paths.append(QStringLiteral("/"));
    return paths;
}

void TSourceTree::FillPlaces() {
    m_places->clear();
    const QString home = QDir::homePath();
    for (const QString& path : PlacePaths()) {
        QString text = path == QStringLiteral("/") || path == home ? path : QFileInfo(path).fileName();
        if (text.isEmpty())
            text = path;
        auto* item = new QListWidgetItem(m_model->FileModel()->iconProvider()->icon(QFileInfo(path)), text, m_places);
        item->setData(Qt::UserRole, path);
        item->setToolTip(path);
    }
}

void TSourceTree::SetEntries(const QStringList& entries) {
    m_model->SetEntries(entries);
    m_tree->collapseAll();
}

void TSourceTree::Clear() {
    m_model->ClearChecks();
    m_tree->collapseAll();
}

void TSourceTree::Reveal(const QString& path) {
    const QModelIndex index = m_model->mapFromSource(m_model->FileModel()->index(path));
    if (!index.isValid())
        return;
    m_tree->setCurrentIndex(index);
    m_tree->scrollTo(index, QAbstractItemView::PositionAtTop);
    m_tree->expand(index);
}
