#pragma once

// Turns the folder entries of application definitions into paths of this computer. An entry that
// begins with "%NAME%" has that variable expanded at the moment of use:
//   STEAM        the Steam folder (the first existing of ~/.local/share/Steam, ~/.steam/steam and
//                the Flatpak's ~/.var/app/com.valvesoftware.Steam/.local/share/Steam);
//   STEAM_CLOUD  the first account folder in Steam's userdata that holds the rest as a folder;
//   UPLAY        the Ubisoft launcher's folder (there is none on this system);
//   SAVED_GAMES  never resolved: such entries are skipped;
//   REGISTRY     the settings value named after the first "|" (see TAppRegistry.h);
//   any other    the environment variable of that name (looked up ignoring case), where the XDG
//                base folders (XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_STATE_HOME, XDG_CACHE_HOME) fall
//                back to their defaults below HOME when unset.
// Anything that cannot be resolved gives an empty path.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class TAppRegistry;

// What a resolved entry names.
enum class TAppEntryKind {
    Missing,  // empty, or neither a folder nor a wildcard nor an existing file
    Folder,   // an existing folder: the whole tree
    Wildcard, // "folder/*.ext": the files directly in the folder with that extension
    File,     // a single file (existing or not: a restore puts it back)
};

class TAppPathResolver {
public:
    // registry: the store REGISTRY entries read (none: they resolve to nothing). The launcher
    // paths are found at construction (the refresh before every load, backup and restore).
    explicit TAppPathResolver(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                              TAppRegistry* registry = nullptr);

    // The variables an entry may begin with (besides any environment variable); the shipped
    // definitions use only these.
    static const QStringList& KnownVariables();

    void RefreshLauncherPaths();
    QString SteamPath() const { return m_steam; }
    QString UbisoftPath() const { return m_ubisoft; }

    QString Resolve(const QString& entry) const;

    // Whether an application has data on this computer: one of its folder entries resolves to an
    // existing folder, or failing that one of its settings keys exists (single files and
    // wildcards do not count).
    bool HasData(const QStringList& folders, const QStringList& registryPaths) const;

    // The kind of a resolved path as the runs treat it.
    static TAppEntryKind KindOf(const QString& path);
    // A wildcard's folder (the text before the first "*.") and mask (from "*." on).
    static QString WildcardFolder(const QString& path);
    static QString WildcardMask(const QString& path);
    // Whether a file name matches a wildcard mask: its extension with a leading "*" equals the
    // mask, both in lower case.
    static bool MatchesMask(const QString& fileName, const QString& mask);

private:
    QString Environment(const QString& name) const;
    QString ResolveInLauncher(const QString& entry, const QString& reference, const QString& base,
                              const QString& accounts) const;

    QProcessEnvironment m_environment;
    TAppRegistry* m_registry;
    QString m_steam;
    QString m_ubisoft;
};
