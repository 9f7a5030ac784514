#pragma once

// The settings keys of application data. Definitions name them as registry paths
// ("HKEY_CURRENT_USER/org/gnome/desktop/interface", "\" or "/" between components); on this
// desktop the per-user store is dconf, and such a path names the dconf folder
// /org/gnome/desktop/interface/. The other roots have no per-user store: their keys never exist.

#include <QString>

// The dconf folder ("/a/b/") a registry key path names; false for an unsupported root or a path
// without components.
bool DconfFolderOf(const QString& registryPath, QString& folder);
// The dconf key ("/a/b/name") a registry value path names (its last component is the value name).
bool DconfKeyOf(const QString& registryPath, QString& key);

// What the runs and the wizard do with settings keys. Every failure is a false or empty result
// (never an exception); error receives a one-line reason where given.
class TAppRegistry {
public:
    virtual ~TAppRegistry() = default;
    // The key holds at least one value or subkey.
    virtual bool KeyExists(const QString& path) = 0;
    // The value named by a path whose last component is the value name; empty on any failure.
    virtual QString ReadString(const QString& path) = 0;
    // Writes the key with its values and subkeys to file.
    virtual bool SaveKey(const QString& path, const QString& file, QString* error) = 0;
    // Replaces the key's content with what file holds (as SaveKey wrote it).
    virtual bool RestoreKey(const QString& path, const QString& file, QString* error) = 0;
    // Moves the key with its values and subkeys to newName under the same parent.
    virtual bool RenameKey(const QString& path, const QString& newName, QString* error) = 0;
};

// The store through the dconf command-line tool (package dconf-cli): "dump" saves a folder as
// text, "load" after "reset -f" restores it.
class TDconfRegistry : public TAppRegistry {
public:
    // program: the dconf tool to run ("dconf" on the search path by default).
    explicit TDconfRegistry(QString program = QStringLiteral("dconf"));

    bool KeyExists(const QString& path) override;
    QString ReadString(const QString& path) override;
    bool SaveKey(const QString& path, const QString& file, QString* error) override;
    bool RestoreKey(const QString& path, const QString& file, QString* error) override;
    bool RenameKey(const QString& path, const QString& newName, QString* error) override;

    // Whether the tool can be started at all.
    bool Available();

private:
    struct TOutput {
        bool Ok = false;
        QByteArray Out;
        QString Error;
    };
    TOutput Run(const QStringList& arguments, const QByteArray& input = QByteArray());

    QString m_program;
};

// The store of this desktop, shared by the runs.
TAppRegistry& SystemAppRegistry();
