#pragma once

#include <QIdentityProxyModel>
#include <QStringList>
#include <QWidget>

class QFileSystemModel;
class QListWidget;
class QTreeView;

// The file system with a check box on every folder and file. The ticks are kept as paths in the
// order they were made; a folder's tick covers everything below it, and a folder with ticks below
// it shows a partial tick. Unticking an item below a ticked folder ticks its siblings instead.
class TCheckableFileModel : public QIdentityProxyModel {
    Q_OBJECT
public:
    explicit TCheckableFileModel(QObject* parent = nullptr);

    QFileSystemModel* FileModel() const { return m_files; }
    QString PathOf(const QModelIndex& index) const;

    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    void SetChecked(const QString& path, bool checked);
    Qt::CheckState CheckState(const QString& path) const;
    const QStringList& CheckedPaths() const { return m_checked; }
    void ClearChecks();

    // The ticks as source entries: a folder as its path + "/*", a file as its path.
    QStringList Entries() const;
    // Ticks the entries' paths; entries whose folder or file no longer exists are dropped.
    void SetEntries(const QStringList& entries);

Q_SIGNALS:
    void ChecksChanged();

private:
    QFileSystemModel* m_files;
    QStringList m_checked;
};

// The sources control: places (home, the user's folders, the mounted volumes, "/") beside the
// tree of the whole file system with hidden items and files; choosing a place opens the tree
// there.
class TSourceTree : public QWidget {
    Q_OBJECT
public:
    explicit TSourceTree(QWidget* parent = nullptr);

    TCheckableFileModel* Model() const { return m_model; }
    QTreeView* Tree() const { return m_tree; }
    QListWidget* Places() const { return m_places; }

    QStringList Entries() const { return m_model->Entries(); }
    void SetEntries(const QStringList& entries);
    void SetChecked(const QString& path, bool checked) { m_model->SetChecked(path, checked); }
    // Collapses the tree and clears the ticks.
    void Clear();
    // Opens the tree at path and selects it.
    void Reveal(const QString& path);

    // The places in their order: home, the user's folders, the volumes, "/".
    static QStringList PlacePaths();

Q_SIGNALS:
    // After every change of the ticks (also a mouse release in the tree).
    void SelectionChanged();

private:
    void FillPlaces();

    TCheckableFileModel* m_model;
    QListWidget* m_places;
    QTreeView* m_tree;
};
