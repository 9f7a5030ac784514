// Application data backups and restores end to end on a fake home folder: the layout and lists at
// the destination, changes and removals mirrored, files that cannot be read keeping their stored
// copy, settings keys, restore with renaming, interrupted and cancelled runs, pause.

#include "tests/files/THookedBranch.h"
#include "tests/storage/TFakeSleeper.h"

#include "core/settings/TAppGlobals.h"
#include "jobs/appdata/AppDefinitions.h"
#include "jobs/appdata/AppLists.h"
#include "jobs/appdata/TAppRegistry.h"
#include "jobs/appdata/TJob_AppsData.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Per relative path: "<dir>" or the file's content. Renamed-away data is left out.
using TTree = QMap<QString, QByteArray>;

TTree Tree(const QString& root) {
    TTree tree;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = path.mid(root.size() + 1);
        if (rel.contains(u" - RENAMED ON "_s))
            continue;
        QFile file(path);
        tree[rel] = QFileInfo(path).isDir() ? "<dir>"_ba : (file.open(QIODevice::ReadOnly) ? file.readAll() : "<?>"_ba);
    }
    return tree;
}

QStringList RenamedUnder(const QString& root) {
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileName().contains(u" - RENAMED ON "_s))
            found << path.mid(root.size() + 1).section(u" - RENAMED ON "_s, 0, 0);
    }
    found.sort();
    return found;
}

QStringList List(const QString& path) {
    QStringList lines;
    LoadAppList(path, lines);
    return lines;
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Settings keys held in memory: a key is a folder of values, saved as "name=value" lines.
class TMemoryRegistry : public TAppRegistry {
public:
    QMap<QString, QString> Values; // dconf key -> value

    QStringList KeysIn(const QString& folder) const {
        QStringList keys;
        for (auto it = Values.cbegin(); it != Values.cend(); ++it)
            if (it.key().startsWith(folder))
                keys << it.key();
        return keys;
    }
    bool KeyExists(const QString& path) override {
        QString folder;
        return DconfFolderOf(path, folder) && !KeysIn(folder).isEmpty();
    }
    QString ReadString(const QString& path) override {
        QString key;
        return DconfKeyOf(path, key) ? Values.value(key) : QString();
    }
    bool SaveKey(const QString& path, const QString& file, QString*) override {
        QString folder;
        if (!DconfFolderOf(path, folder))
            return false;
        QByteArray text;
        for (const QString& key : KeysIn(folder))
            text += (key.mid(folder.size()) + u'=' + Values.value(key) + u'\n').toUtf8();
        QFile out(file);
        return out.open(QIODevice::WriteOnly) && out.write(text) == text.size();
    }
    bool RestoreKey(const QString& path, const QString& file, QString*) override {
        QString folder;
        QFile in(file);
        if (!DconfFolderOf(path, folder) || !in.open(QIODevice::ReadOnly))
            return false;
        for (const QString& key : KeysIn(folder))
            Values.remove(key);
        for (const QByteArray& line : in.readAll().split('\n'))
            if (const qsizetype eq = line.indexOf('='); eq > 0)
                Values[folder + QString::fromUtf8(line.left(eq))] = QString::fromUtf8(line.mid(eq + 1));
        return true;
    }
    bool RenameKey(const QString& path, const QString& newName, QString*) override {
        QString folder;
        if (!DconfFolderOf(path, folder))
            return false;
        QString parent = folder.left(folder.size() - 1);
        parent = parent.left(parent.lastIndexOf(u'/') + 1);
        for (const QString& key : KeysIn(folder))
            Values[parent + newName + u'/' + key.mid(folder.size())] = Values.take(key);
        return true;
    }
};

const QByteArray Definitions = "Editor\n"
                               "%XDG_CONFIG_HOME%/editor\n"
                               "%HOME%/.editorrc\n"
                               "%HOME%/Saves/*.sav\n"
                               "%HOME%/.absent-file\n"
                               "HKEY_CURRENT_USER/org/vaultora-test/editor\n"
                               "HKEY_LOCAL_MACHINE/org/vaultora-test/none\n"
                               "\n"
                               "Game\n"
                               "%XDG_DATA_HOME%/game\n"
                               "%SAVED_GAMES%/Game\n"
                               "\n"
                               "Not here\n"
                               "%HOME%/not-here\n";

} // namespace

class TestAppsBackupRestore : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    TFakeSleeper m_sleeper;
    TFakeClock m_clock;
    TMemoryRegistry m_registry;
    QProcessEnvironment m_environment;
    THookedBranch::THook m_onUpload;
    qint64 m_time = 1'700'000'000;

    QString Home() const { return m_root->filePath(u"home"_s); }
    QString Dest() const { return m_root->filePath(u"dest"_s); }
    QString Stored(const QString& rel) const { return Dest() + u"/Apps/"_s + rel; }

    void Write(const QString& rel, const QByteArray& data, long nanoseconds = 0) {
        const QString path = Home() + u'/' + rel;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(data);
        file.close();
        const struct timespec times[2] = {{time_t(++m_time), nanoseconds}, {time_t(m_time), nanoseconds}};
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0);
    }

    std::unique_ptr<TJob_AppsData> NewJob(const QStringList& apps = {u"Editor"_s, u"Game"_s, u"Not here"_s}) {
        auto job = std::make_unique<TJob_AppsData>(u"Apps"_s);
        job->Settings.AppNames = apps;
        job->DestinationSettings.LocalOrExternalDrive.Disk = Dest();
        job->DestinationSettings.LocalOrExternalDrive.Subfolder = u"/"_s;
        job->Sleeper = &m_sleeper;
        job->Clock = &m_clock;
        job->Registry = &m_registry;
        job->Environment = &m_environment;
        job->Branches = [this](TJob& owner) { return std::make_unique<THookedBranch>(owner, &m_onUpload, nullptr); };
        return job;
    }

    void Backup(TJob_AppsData& job) {
        job.Backup();
        job.WaitForWorker();
        QCOMPARE(job.JobStatus.Load(), jsNone);
    }

    QString Log(const TJob& job) const { return job.LastJobResult.Log.join(u'\n'); }

    void Restore(TJob_AppsData& job, const QStringList& chosen) {
        const TAppsRestoreListing listing = job.ReadBackup();
        QVERIFY2(listing.Ok, qPrintable(listing.Error));
        QCOMPARE(listing.AppNames, (QStringList{u"Editor"_s, u"Game"_s, u"Not here"_s}));
        job.StartRestore(chosen);
        job.WaitForWorker();
        QCOMPARE(job.JobStatus.Load(), jsNone);
    }

    void MakeHome() {
        Write(u".config/editor/settings.conf"_s, "font=mono");
        Write(u".config/editor/themes/dark.theme"_s, "dark");
        Write(u".config/editor/themes/old/light.theme"_s, "light");
        QDir().mkpath(Home() + u"/.config/editor/empty"_s);
        Write(u".editorrc"_s, "rc");
        Write(u"Saves/one.sav"_s, "save 1");
        Write(u"Saves/TWO.SAV"_s, "save 2");
        Write(u"Saves/notes.txt"_s, "not a save");
        Write(u".local/share/game/profile/p1.dat"_s, QByteArray(100000, 'g'));
        m_registry.Values[u"/org/vaultora-test/editor/theme"_s] = u"dark"_s;
        m_registry.Values[u"/org/vaultora-test/editor/sub/size"_s] = u"12"_s;
    }

private Q_SLOTS:
    void init() {
        m_root = std::make_unique<QTemporaryDir>();
        QDir().mkpath(Home());
        QDir().mkpath(Dest());
        const QString definitions = m_root->filePath(u"definitions"_s);
        QDir().mkpath(definitions);
        QFile file(definitions + u"/Test.adp"_s);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(Definitions);
        file.close();
        QVERIFY(AppDefinitions::Load(definitions));
        TAppGlobals& app = App();
        app.ApplicationDirectory = m_root->filePath(u"data"_s);
        QDir().mkpath(app.ApplicationDirectory);
        app.Options = TOptions();
        app.Options.General.PathForTempFiles = m_root->filePath(u"temp"_s);
        app.Options.Logging.PathForLogFiles = m_root->filePath(u"logs"_s);
        app.Options.Processing.IfDestinationNotAvailable_Retry_Times = 0;
        app.Options.Processing.IfDestinationNotAvailable_Wait_Sec = 0;
        app.EventsLog.Clear();
        m_sleeper = TFakeSleeper();
        m_clock.Set(QDateTime(QDate(2026, 12, 11), QTime(10, 0, 0)));
        m_sleeper.Clock = &m_clock;
        m_registry = TMemoryRegistry();
        m_environment = QProcessEnvironment();
        m_environment.insert(u"HOME"_s, Home());
        m_onUpload = nullptr;
    }

    void backupMirrorsAndRestorePutsBack() {
        MakeHome();
        auto job = NewJob();
        Backup(*job);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0 && job->LastJobResult.WarningsCount == 0, qPrintable(Log(*job)));
        QCOMPARE(job->CurrentBackupFilesProcessed.Load(), 7);
        QVERIFY(Log(*job).contains(u"Backup job \"Apps\" is finished. Files copied: 7. Total size of the files:"_s));
        // The layout: one folder per application and entry, the lists, the keys, the job file.
        QVERIFY(QFileInfo::exists(Dest() + u"/Apps.vlj"_s));
        QVERIFY(!QFileInfo::exists(Stored(u"_startflag.vll"_s)));
        QCOMPARE(Read(Stored(u"Editor/0/editor/themes/old/light.theme"_s)), "light"_ba);
        QCOMPARE(List(Stored(u"Editor/0/_rf.vll"_s)),
                 (QStringList{u"editor/settings.conf"_s, u"editor/themes/dark.theme"_s,
                              u"editor/themes/old/light.theme"_s}));
        QCOMPARE(List(Stored(u"Editor/0/_rd.vll"_s)),
                 (QStringList{u"editor"_s, u"editor/empty"_s, u"editor/themes"_s, u"editor/themes/old"_s}));
        QCOMPARE(List(Stored(u"Editor/0/_rft.vll"_s)).size(), 3);
        QVERIFY(QRegularExpression(u"^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}$"_s)
                    .match(List(Stored(u"Editor/0/_rft.vll"_s)).first())
                    .hasMatch());
        QCOMPARE(List(Stored(u"Editor/1/_rf.vll"_s)), QStringList{u".editorrc"_s});
        QCOMPARE(List(Stored(u"Editor/2/_rf.vll"_s)), (QStringList{u"TWO.SAV"_s, u"one.sav"_s}));
        QVERIFY(!QFileInfo::exists(Stored(u"Editor/2/notes.txt"_s)));
        QCOMPARE(List(Stored(u"Editor/3/_rf.vll"_s)), QStringList());
        QCOMPARE(Read(Stored(u"Editor/0.rgh"_s)), "sub/size=12\ntheme=dark\n"_ba);
        QVERIFY(!QFileInfo::exists(Stored(u"Editor/1.rgh"_s)));
        QVERIFY(QFileInfo(Stored(u"Not here"_s)).isDir());
        // The stored job file carries the definitions the backup used.
        TJob_AppsData reader(u"Apps"_s);
        QVERIFY(reader.LoadRemoteJobFile(Dest() + u"/Apps.vlj"_s, false));
        QCOMPARE(reader.RemoteAppsData.size(), 3);
        QCOMPARE(reader.RemoteAppsData.first().Folders.first(), u"%XDG_CONFIG_HOME%/editor"_s);

        // Second run: a change in the milliseconds only, a removed file and folder, a new file.
        const QString conf = Home() + u"/.config/editor/settings.conf"_s;
        const QFileInfo before(conf);
        const struct timespec times[2] = {{time_t(before.lastModified().toSecsSinceEpoch()), 5'000'000},
                                          {time_t(before.lastModified().toSecsSinceEpoch()), 5'000'000}};
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(conf).constData(), times, 0) == 0);
        QVERIFY(QDir(Home() + u"/.config/editor/themes/old"_s).removeRecursively());
        QVERIFY(QFile::remove(Home() + u"/Saves/one.sav"_s));
        Write(u".local/share/game/profile/p2.dat"_s, "p2");
        Backup(*job);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0, qPrintable(Log(*job)));
        QCOMPARE(job->CurrentBackupFilesProcessed.Load(), 2);
        QVERIFY(!QFileInfo::exists(Stored(u"Editor/0/editor/themes/old"_s)));
        QVERIFY(!QFileInfo::exists(Stored(u"Editor/2/one.sav"_s)));
        QCOMPARE(List(Stored(u"Editor/0/_rd.vll"_s)),
                 (QStringList{u"editor"_s, u"editor/empty"_s, u"editor/themes"_s}));
        QCOMPARE(Read(Stored(u"Game/0/game/profile/p2.dat"_s)), "p2"_ba);

        // Restore into a home that moved on: everything stored comes back, what was there is
        // renamed out of the way.
        const TTree backedUp = Tree(Home());
        const auto keys = m_registry.Values;
        Write(u".config/editor/settings.conf"_s, "changed since");
        Write(u".config/editor/new.conf"_s, "new since");
        QVERIFY(QFile::remove(Home() + u"/.editorrc"_s));
        QVERIFY(QDir(Home() + u"/.local/share/game"_s).removeRecursively());
        m_registry.Values[u"/org/vaultora-test/editor/theme"_s] = u"light"_s;
        Restore(*job, {u"Editor"_s, u"Game"_s});
        const QString log = Log(*job);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0 && !job->LastJobResult.Cancelled, qPrintable(log));
        // The one warning of every restore, and one for each entry with nothing on this computer
        // (the removed file and folder, the file that never existed).
        QCOMPARE(job->LastJobResult.WarningsCount.Load(), 4);
        QVERIFY(log.contains(u"Restore job \"Apps\" is finished with warnings."_s));
        QCOMPARE(Tree(Home()), backedUp);
        QCOMPARE(RenamedUnder(Home()), (QStringList{u".config/editor"_s, u"Saves/TWO.SAV"_s}));
        QCOMPARE(Read(Home() + u"/.config/editor - RENAMED ON 2026-12-11 10;00;00/new.conf"_s), "new since"_ba);
        QCOMPARE(m_registry.Values.value(u"/org/vaultora-test/editor/theme"_s), u"dark"_s);
        QCOMPARE(m_registry.Values.value(u"/org/vaultora-test/editor - RENAMED ON 2026-12-11 10;00;00/theme"_s),
                 u"light"_s);
        for (auto it = keys.cbegin(); it != keys.cend(); ++it)
            QCOMPARE(m_registry.Values.value(it.key()), it.value());
    }

    void restoreOfOneApplication() {
        MakeHome();
        auto job = NewJob();
        Backup(*job);
        QVERIFY(QDir(Home() + u"/.local/share/game"_s).removeRecursively());
        Write(u".editorrc"_s, "left alone");
        Restore(*job, {u"Game"_s});
        QVERIFY2(job->LastJobResult.ErrorsCount == 0, qPrintable(Log(*job)));
        QCOMPARE(Read(Home() + u"/.local/share/game/profile/p1.dat"_s), QByteArray(100000, 'g'));
        QCOMPARE(Read(Home() + u"/.editorrc"_s), "left alone"_ba);
        QCOMPARE(RenamedUnder(Home()), QStringList());
    }

    void unreadableFileKeepsItsStoredCopy() {
        MakeHome();
        auto job = NewJob();
        Backup(*job);
        const QStringList stamps = List(Stored(u"Editor/0/_rft.vll"_s));
        Write(u".config/editor/settings.conf"_s, "font=serif");
        Write(u".config/editor/themes/new.theme"_s, "new");
        // Both cannot be read in this run: the one stored before keeps its copy, list entry and
        // stamp; the new one is not listed.
        m_onUpload = [](const QString&, const QString& remote) -> std::optional<TBranchResult> {
            if (remote.endsWith(u"/settings.conf"_s) || remote.endsWith(u"/new.theme"_s))
                return TBranchResult::LocalAccess(u"Permission denied"_s);
            return std::nullopt;
        };
        Backup(*job);
        QCOMPARE(job->LastJobResult.ErrorsCount.Load(), 2);
        QCOMPARE(Read(Stored(u"Editor/0/editor/settings.conf"_s)), "font=mono"_ba);
        QCOMPARE(List(Stored(u"Editor/0/_rf.vll"_s)),
                 (QStringList{u"editor/settings.conf"_s, u"editor/themes/dark.theme"_s,
                              u"editor/themes/old/light.theme"_s}));
        QCOMPARE(List(Stored(u"Editor/0/_rft.vll"_s)), stamps);
        // Readable again: the next run copies it.
        m_onUpload = nullptr;
        Backup(*job);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0, qPrintable(Log(*job)));
        QCOMPARE(Read(Stored(u"Editor/0/editor/settings.conf"_s)), "font=serif"_ba);
        QCOMPARE(Read(Stored(u"Editor/0/editor/themes/new.theme"_s)), "new"_ba);
    }

    void cancelledRunIsStartedOverAndNotRestored() {
        MakeHome();
        auto job = NewJob();
        int uploads = 0;
        m_onUpload = [&](const QString&, const QString&) -> std::optional<TBranchResult> {
            if (++uploads == 4)
                job->Cancel();
            return std::nullopt;
        };
        Backup(*job);
        QVERIFY(job->LastJobResult.Cancelled);
        QVERIFY(Log(*job).contains(u"Backup is cancelled."_s));
        QVERIFY(QFileInfo::exists(Stored(u"_startflag.vll"_s)));
        QVERIFY(!QFileInfo::exists(Dest() + u"/Apps.vlj"_s));
        // A restore refuses a backup that did not finish (no stored job file yet here).
        QVERIFY(!job->ReadBackup().Ok);

        m_onUpload = nullptr;
        Backup(*job);
        QVERIFY(!job->LastJobResult.Cancelled);
        QCOMPARE(job->LastJobResult.WarningsCount.Load(), 1);
        QVERIFY(Log(*job).contains(u"We have to remove the previous backup."_s));
        QCOMPARE(job->CurrentBackupFilesProcessed.Load(), 7);
        QVERIFY(!QFileInfo::exists(Stored(u"_startflag.vll"_s)));

        // Interrupted after a finished backup: the flag makes the restore refuse.
        uploads = 0;
        Write(u".editorrc"_s, "changed");
        m_onUpload = [&](const QString&, const QString&) -> std::optional<TBranchResult> {
            if (++uploads == 2)
                job->Cancel();
            return std::nullopt;
        };
        Backup(*job);
        QVERIFY(job->LastJobResult.Cancelled);
        const TAppsRestoreListing listing = job->ReadBackup();
        QVERIFY(!listing.Ok);
        QVERIFY2(listing.Error.contains(u"Last backup job was cancelled"_s), qPrintable(listing.Error));
        QCOMPARE(job->JobStatus.Load(), jsNone);
    }

    void pauseWaitsUntilResumed() {
        MakeHome();
        auto job = NewJob();
        bool paused = false;
        m_onUpload = [&](const QString&, const QString&) -> std::optional<TBranchResult> {
            if (!paused) {
                paused = true;
                job->Pause();
            }
            return std::nullopt;
        };
        m_sleeper.OnSleep = [&](int call) {
            if (call == 3)
                job->Resume();
        };
        Backup(*job);
        QVERIFY2(!job->LastJobResult.Cancelled && job->LastJobResult.ErrorsCount == 0, qPrintable(Log(*job)));
        QCOMPARE(m_sleeper.Calls, 3);
        QCOMPARE(m_sleeper.TotalMilliseconds, 3000);
        QCOMPARE(job->CurrentBackupFilesProcessed.Load(), 7);
    }

    void storedListsCannotLeadOutside() {
        MakeHome();
        auto job = NewJob({u"Game"_s});
        Backup(*job);
        // A list at the destination names paths outside the entry's folder.
        QVERIFY(SaveAppList(Stored(u"Game/0/_rf.vll"_s),
                            {u"game/profile/p1.dat"_s, u"../../../escaped"_s, u"/etc/escaped"_s}));
        QVERIFY(SaveAppList(Stored(u"Game/0/_rd.vll"_s), {u"game"_s, u"game/profile"_s, u"game/../../up"_s}));
        QDir(Home() + u"/.local/share/game"_s).removeRecursively();
        const TAppsRestoreListing listing = job->ReadBackup();
        QVERIFY(listing.Ok);
        job->StartRestore({u"Game"_s});
        job->WaitForWorker();
        QCOMPARE(Read(Home() + u"/.local/share/game/profile/p1.dat"_s), QByteArray(100000, 'g'));
        QVERIFY(!QFileInfo::exists(Home() + u"/escaped"_s));
        QVERIFY(!QFileInfo::exists(m_root->filePath(u"up"_s)));
        QVERIFY(Log(*job).contains(u"../../../escaped"_s));
        // A backup does not remove at the destination what such entries name.
        QFile outside(m_root->filePath(u"escaped"_s));
        QVERIFY(outside.open(QIODevice::WriteOnly));
        outside.close();
        Backup(*job);
        QVERIFY(QFileInfo::exists(m_root->filePath(u"escaped"_s)));
    }

    void missingDefinitionsCancelTheBackup() {
        QTemporaryDir empty;
        QVERIFY(!AppDefinitions::Load(empty.path()));
        App().ProgramDataDirectory = empty.path();
        auto job = NewJob();
        Backup(*job);
        QVERIFY(job->LastJobResult.Cancelled);
        QVERIFY(Log(*job).contains(u"Loading supported application data."_s));
        QVERIFY(!QFileInfo::exists(Dest() + u"/Apps.vlj"_s));
    }
};

QTEST_GUILESS_MAIN(TestAppsBackupRestore)
#include "tst_AppsBackupRestore.moc"
