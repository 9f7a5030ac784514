#include "jobs/appdata/TAppPathResolver.h"

#include "jobs/appdata/TAppRegistry.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString Steam = QStringLiteral("STEAM");
const QString SteamCloud = QStringLiteral("STEAM_CLOUD");
const QString Uplay = QStringLiteral("UPLAY");
const QString SavedGames = QStringLiteral("SAVED_GAMES");
const QString Registry = QStringLiteral("REGISTRY");

struct TXdgDefault {
    const char16_t* Name;
    const char16_t* BelowHome;
};
constexpr TXdgDefault XdgDefaults[] = {
    {u"XDG_CONFIG_HOME", u"/.config"},
    {u"XDG_DATA_HOME", u"/.local/share"},
    {u"XDG_STATE_HOME", u"/.local/state"},
    {u"XDG_CACHE_HOME", u"/.cache"},
};

// text with the first occurrence of reference (any case) replaced by value.
QString ReplaceFirst(const QString& text, const QString& reference, const QString& value) {
    const qsizetype at = text.indexOf(reference, 0, Qt::CaseInsensitive);
    if (at < 0)
        return text;
    return text.left(at) + value + text.mid(at + reference.size());
}

} // namespace

TAppPathResolver::TAppPathResolver(const QProcessEnvironment& environment, TAppRegistry* registry)
    : m_environment(environment)
    , m_registry(registry) {
    RefreshLauncherPaths();
}

const QStringList& TAppPathResolver::KnownVariables() {
    static const QStringList names{QStringLiteral("HOME"),
                                   QStringLiteral("XDG_CONFIG_HOME"),
                                   QStringLiteral("XDG_DATA_HOME"),
                                   QStringLiteral("XDG_STATE_HOME"),
                                   QStringLiteral("XDG_CACHE_HOME"),
                                   Steam,
                                   SteamCloud,
                                   Uplay,
                                   SavedGames,
                                   Registry};
    return names;
}

void TAppPathResolver::RefreshLauncherPaths() {
    m_steam.clear();
    m_ubisoft.clear(); // the Ubisoft launcher does not run natively here
    const QString home = Environment(QStringLiteral("HOME"));
    if (home.isEmpty())
        return;
    for (const char16_t* below :
         {u"/.local/share/Steam", u"/.steam/steam", u"/.var/app/com.valvesoftware.Steam/.local/share/Steam"}) {
        const QString candidate = home + QString::fromUtf16(below);
        if (QFileInfo(candidate).isDir()) {
            m_steam = candidate;
            return;
        }
    }
}

QString TAppPathResolver::Environment(const QString& name) const {
    QString value = m_environment.value(name);
    if (value.isEmpty() && !m_environment.contains(name)) {
        // Names in definitions are written in one case; the variable may be set in another.
        for (const QString& key : m_environment.keys()) {
            if (key.compare(name, Qt::CaseInsensitive) == 0) {
                value = m_environment.value(key);
                break;
            }
        }
    }
    if (value.isEmpty()) {
        for (const TXdgDefault& xdg : XdgDefaults) {
            if (name.compare(QString::fromUtf16(xdg.Name), Qt::CaseInsensitive) == 0) {
                const QString home = Environment(QStringLiteral("HOME"));
                return home.isEmpty() ? QString() : home + QString::fromUtf16(xdg.BelowHome);
            }
        }
    }
    return value;
}

QString TAppPathResolver::ResolveInLauncher(const QString& entry, const QString& reference, const QString& base,
                                            const QString& accounts) const {
    QString rest = entry;
    rest.remove(reference + u'/', Qt::CaseInsensitive);
    rest.remove(reference, Qt::CaseInsensitive);
    const QString root = base + accounts;
    const QStringList names = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        const QString candidate = root + u'/' + name + u'/' + rest;
        if (QFileInfo(candidate).isDir())
            return QDir::cleanPath(candidate);
    }
    return {};
}

QString TAppPathResolver::Resolve(const QString& entry) const {
    if (!entry.startsWith(u'%'))
        return entry;
    const qsizetype end = entry.indexOf(u'%', 1);
    if (end < 0)
        return {};
    const QString name = entry.mid(1, end - 1);
    const QString reference = entry.left(end + 1);
    if (name == SteamCloud && !m_steam.isEmpty())
        return ResolveInLauncher(entry, reference, m_steam, QStringLiteral("/userdata"));
    if (name == Steam && !m_steam.isEmpty())
        return ReplaceFirst(entry, reference, m_steam);
    if (name == Uplay && !m_ubisoft.isEmpty())
        return ResolveInLauncher(entry, reference, m_ubisoft, QStringLiteral("/savegames"));
    if (name == SavedGames)
        return {};
    if (name == Registry) {
        const qsizetype bar = entry.indexOf(u'|');
        if (bar < 0 || !m_registry)
            return {};
        const QString value = m_registry->ReadString(entry.mid(bar + 1));
        if (value.isEmpty())
            return {};
        const QString resolved = ReplaceFirst(entry, reference, value);
        return resolved.left(resolved.indexOf(u'|'));
    }
    if (name.isEmpty())
        return {};
    const QString value = Environment(name);
    if (value.isEmpty())
        return {};
    return ReplaceFirst(entry, reference, value);
}

bool TAppPathResolver::HasData(const QStringList& folders, const QStringList& registryPaths) const {
    for (const QString& entry : folders) {
        const QString path = Resolve(entry);
        if (!path.isEmpty() && QFileInfo(path).isDir())
            return true;
    }
    if (m_registry)
        for (const QString& key : registryPaths)
            if (m_registry->KeyExists(key))
                return true;
    return false;
}

TAppEntryKind TAppPathResolver::KindOf(const QString& path) {
    if (path.isEmpty())
        return TAppEntryKind::Missing;
    if (QFileInfo(path).isDir())
        return TAppEntryKind::Folder;
    if (path.contains(QStringLiteral("*.")))
        return TAppEntryKind::Wildcard;
    return TAppEntryKind::File;
}

QString TAppPathResolver::WildcardFolder(const QString& path) {
    return path.left(path.indexOf(QStringLiteral("*.")));
}

QString TAppPathResolver::WildcardMask(const QString& path) {
    return path.mid(path.indexOf(QStringLiteral("*.")));
}

bool TAppPathResolver::MatchesMask(const QString& fileName, const QString& mask) {
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot < 0)
        return false;
    return (u'*' + fileName.mid(dot)).toLower() == mask.toLower();
}
