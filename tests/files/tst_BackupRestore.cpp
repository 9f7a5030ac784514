// Files-and-folders backups and restores end to end, on real folders, through the job's public
// operations: chains of restore points restored against snapshots of the source, every storage
// mode, retention, mirrors, interrupted runs, filters, pause, cancel and failing destinations.

#include "tests/files/THookedBranch.h"
#include "tests/storage/TFakeSleeper.h"

#include "core/settings/TAppGlobals.h"
#include "jobs/files/ListFiles.h"
#include "jobs/files/TJob_FilesAndFolders.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// What a tree holds, as a restore must give it back: per relative path the kind, content (or
// link target), last-write time in milliseconds and permission bits.
struct TItem {
    char Kind = 'f';
    QByteArray Data;
    qint64 MTimeMs = 0;
    int Mode = 0;
    bool operator==(const TItem&) const = default;
};
using TSnapshot = std::map<QString, TItem>;

TSnapshot Snapshot(const QString& root) {
    TSnapshot snapshot;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = path.mid(root.size() + 1);
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        TItem item;
        item.Mode = int(st.st_mode & 07777);
        if (S_ISDIR(st.st_mode)) {
            item.Kind = 'd';
        } else if (S_ISLNK(st.st_mode)) {
            item.Kind = 'l';
            char target[4096];
            const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
            item.Data = QByteArray(target, int(std::max<ssize_t>(length, 0)));
            item.Mode = 0;
        } else {
            QFile file(path);
            item.Data = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
            item.MTimeMs = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
        }
        snapshot[rel] = item;
    }
    return snapshot;
}

QString Describe(const TSnapshot& expected, const TSnapshot& actual) {
    QStringList lines;
    for (const auto& [path, item] : expected) {
        const auto found = actual.find(path);
        if (found == actual.end())
            lines << u"missing: "_s + path;
        else if (!(found->second == item))
            lines << u"differs: "_s + path + u" (mtime "_s + QString::number(item.MTimeMs) + u" vs "_s +
                         QString::number(found->second.MTimeMs) + u", mode "_s + QString::number(item.Mode, 8) +
                         u" vs "_s + QString::number(found->second.Mode, 8) + u")"_s;
    }
    for (const auto& [path, item] : actual)
        if (!expected.count(path))
            lines << u"extra: "_s + path;
    return lines.join(u'\n');
}

void Write(const QString& path, const QByteArray& data, qint64 mtimeSeconds = 0, int mode = 0644) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(data);
    file.close();
    ::chmod(QFile::encodeName(path).constData(), mode_t(mode));
    if (mtimeSeconds) {
        const struct timespec times[2] = {{time_t(mtimeSeconds), 123000000}, {time_t(mtimeSeconds), 456000000}};
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
    }
}

QStringList ReadList(const QString& path) {
    QStringList lines;
    LoadListFile(path, lines);
    return lines;
}

// The storage modes a job can write, with the password a restore needs.
struct TMode {
    bool Zip = false;
    bool PerFile = false;
    int Encryption = -1; // -1 none, else the method position
};

} // namespace

class TestBackupRestore : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;
    TFakeSleeper m_sleeper;
    TFakeClock m_runClock; // the runs' time, moved on only by their sleeps
    THookedBranch::THook m_onUpload;
    THookedBranch::THook m_onCreateFolder;
    qint64 m_clock = 1'700'000'000; // mtimes the tests give files, one step per change

    QString Src() const { return m_root->filePath(u"src"_s); }
    QString Dest() const { return m_root->filePath(u"dest"_s); }
    QString Out(const QString& name) const { return m_root->filePath(u"out-"_s + name); }

    std::unique_ptr<TJob_FilesAndFolders> NewJob(const QString& name, TBackupType type, const TMode& mode = {}) {
        auto job = std::make_unique<TJob_FilesAndFolders>(name);
        job->Settings.Sources.List = {Src() + u"/*"_s};
        job->SetBackupType(type);
        job->DestinationSettings.LocalOrExternalDrive.Disk = Dest();
        job->DestinationSettings.LocalOrExternalDrive.Subfolder = u"/"_s;
        job->Settings.Compression.Enabled = mode.Zip;
        job->Settings.Compression.CreateIndividualZipForEachItem = mode.PerFile;
        if (mode.Encryption >= 0) {
            job->Settings.Compression.ProtectWithPassword = true;
            job->Settings.Compression.EncryptionMethod = uint8_t(mode.Encryption);
            job->Settings.Compression.Password = u"pässword"_s;
        }
        job->Sleeper = &m_sleeper;
        job->Clock = &m_runClock;
        job->Branches = [this](TJob& owner) {
            return std::make_unique<THookedBranch>(owner, &m_onUpload, &m_onCreateFolder);
        };
        return job;
    }

    void RunBackup(TJob_FilesAndFolders& job) {
        job.Backup();
        job.WaitForWorker();
        QCOMPARE(job.JobStatus.Load(), jsNone);
    }

    // Restores point `index` (-1: the latest) into a fresh folder and returns the restored source.
    TSnapshot Restore(TJob_FilesAndFolders& job, const QString& outName, int index = -1,
                      const QString& password = QString()) {
        const QString out = Out(outName);
        QDir().mkpath(out);
        const TRestoreListing listing = job.ReadRestorePoints();
        if (!listing.Ok)
            qWarning() << listing.Error;
        if (index < 0)
            index = listing.Mirror ? -1 : int(listing.Points.size()) - 1;
        job.StartRestore(out, password, index);
        job.WaitForWorker();
        return Snapshot(out + u"/src"_s);
    }

    // The job's restore points, oldest first, as its stored job file lists them; every one of
    // them must exist as a folder.
    QStringList Points(const QString& jobName) {
        TJob_FilesAndFolders reader(jobName);
        TRemoteBackupState state;
        if (!reader.LoadRemoteJobFile(Dest() + u'/' + jobName + u".vlj"_s, false, state))
            return {};
        const QStringList points = state.MainBackupList.mid(1);
        for (const QString& point : points)
            if (!QFileInfo(Dest() + u'/' + jobName + u'/' + point).isDir())
                return {u"missing folder: "_s + point};
        return points;
    }

    QStringList Folders(const QString& jobName) const {
        return QDir(Dest() + u'/' + jobName).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    }

    void Touch(const QString& rel, const QByteArray& data) { Write(Src() + u'/' + rel, data, ++m_clock); }

private Q_SLOTS:
    void init() {
        m_root = std::make_unique<QTemporaryDir>();
        QDir().mkpath(Src());
        QDir().mkpath(Dest());
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
        // Runs in a row wait for a restore-point second of their own: on this clock, not for real.
        m_runClock.Set(QDateTime(QDate(2026, 3, 2), QTime(12, 0, 0)));
        m_sleeper.Clock = &m_runClock;
        m_onUpload = nullptr;
        m_onCreateFolder = nullptr;
    }

    void chainsRestoreEachMoment_data() {
        QTest::addColumn<bool>("zip");
        QTest::addColumn<bool>("perFile");
        QTest::addColumn<int>("encryption");
        QTest::newRow("plain") << false << false << -1;
        QTest::newRow("one archive") << true << false << -1;
        QTest::newRow("one archive, AES-256") << true << false << 2;
        QTest::newRow("archive per file") << true << true << -1;
        QTest::newRow("archive per file, traditional") << true << true << 3;
    }

    void chainsRestoreEachMoment() {
        QFETCH(bool, zip);
        QFETCH(bool, perFile);
        QFETCH(int, encryption);
        const TMode mode{zip, perFile, encryption};
        const QString password = encryption >= 0 ? u"pässword"_s : QString();

        // Incremental chain F1 I1 I2 F2 I3: a full copy after every two increments.
        auto job = NewJob(u"Chain"_s, btIncremental, mode);
        job->Settings.Backup.PerformFullBackup_EveryCopies = 2;
        Touch(u"keep.txt"_s, "kept all along");
        Touch(u"doomed.txt"_s, "deleted before I1");
        Touch(u"dir/a.txt"_s, "a1");
        Touch(u"dir/Sub/b.bin"_s, QByteArray(70000, 'b'));
        Touch(u"empty"_s, QByteArray());
        Write(Src() + u"/mode600.txt"_s, "private", ++m_clock, 0600);
        QDir().mkpath(Src() + u"/empty dir"_s);
        QVERIFY(QFile::link(u"/etc/hostname"_s, Src() + u"/link"_s));
        std::vector<TSnapshot> moments;
        RunBackup(*job); // F1
        moments.push_back(Snapshot(Src()));
        QFile::remove(Src() + u"/doomed.txt"_s);
        Touch(u"dir/a.txt"_s, "a2 changed");
        Touch(u"dir/A.txt"_s, "differs only in case");
        RunBackup(*job); // I1
        moments.push_back(Snapshot(Src()));
        QDir(Src() + u"/dir/Sub"_s).removeRecursively();
        Touch(u"new dir/n.txt"_s, "new");
        RunBackup(*job); // I2
        moments.push_back(Snapshot(Src()));
        Touch(u"keep.txt"_s, "changed before F2");
        RunBackup(*job); // F2
        moments.push_back(Snapshot(Src()));
        Touch(u"dir/a.txt"_s, "a3");
        QFile::remove(Src() + u"/empty"_s);
        RunBackup(*job); // I3
        moments.push_back(Snapshot(Src()));

        const QStringList points = Points(u"Chain"_s);
        QCOMPARE(points.size(), 5);
        const QStringList kinds{u"Full)"_s, u"Incremental)"_s, u"Incremental)"_s, u"Full)"_s, u"Incremental)"_s};
        for (int i = 0; i < 5; ++i)
            QVERIFY2(points[i].endsWith(kinds[i]), qPrintable(points[i]));
        QCOMPARE(job->LastJobResult.ErrorsCount.Load(), 0);
        for (int index : {1, 2, 3, 4}) {
            const TSnapshot restored = Restore(*job, u"inc"_s + QString::number(index), index, password);
            QVERIFY2(job->LastJobResult.ErrorsCount == 0 && !job->LastJobResult.Cancelled,
                     qPrintable(job->LastJobResult.Log.join(u'\n')));
            QVERIFY2(restored == moments[size_t(index)], qPrintable(Describe(moments[size_t(index)], restored)));
        }

        // Differential chain F1 D1 D2: D2 builds on F1 alone.
        QDir(Src()).removeRecursively();
        QDir().mkpath(Src());
        auto diff = NewJob(u"Diff"_s, btDifferential, mode);
        Touch(u"one.txt"_s, "1");
        Touch(u"two.txt"_s, "2");
        RunBackup(*diff);
        Touch(u"one.txt"_s, "1 changed");
        QFile::remove(Src() + u"/two.txt"_s);
        RunBackup(*diff);
        Touch(u"three/3.txt"_s, "3");
        RunBackup(*diff);
        const TSnapshot now = Snapshot(Src());
        const QStringList diffPoints = Points(u"Diff"_s);
        QVERIFY(diffPoints[1].endsWith(u"Differential)"_s) && diffPoints[2].endsWith(u"Differential)"_s));
        // D2 lists every change since F1, not since D1.
        QCOMPARE(ReadList(Dest() + u"/Diff/"_s + diffPoints[2] + u"/_rf.vll"_s).size(), 2);
        const TSnapshot restored = Restore(*diff, u"diff"_s, 2, password);
        QVERIFY2(restored == now, qPrintable(Describe(now, restored)));

        if (encryption >= 0) {
            // A wrong password fails the restore: it ends cancelled with an error.
            Restore(*diff, u"wrong"_s, 2, u"not it"_s);
            QVERIFY(diff->LastJobResult.Cancelled);
            QVERIFY(diff->LastJobResult.ErrorsCount > 0);
        }
    }

    void awkwardTreeRoundTrips_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("zip");
        QTest::addColumn<bool>("perFile");
        QTest::addColumn<int>("encryption");
        const struct {
            const char* Name;
            TMode Mode;
        } modes[] = {{"plain", {false, false, -1}},
                     {"one archive", {true, false, -1}},
                     {"one archive with password", {true, false, 0}},
                     {"archive per file", {true, true, -1}},
                     {"archive per file with password", {true, true, 1}}};
        const struct {
            const char* Name;
            TBackupType Type;
        } types[] = {{"full", btFull}, {"incremental", btIncremental}, {"differential", btDifferential}};
        for (const auto& type : types)
            for (const auto& mode : modes)
                QTest::newRow(qPrintable(QString::fromLatin1(type.Name) + u", "_s + QString::fromLatin1(mode.Name)))
                    << int(type.Type) << mode.Mode.Zip << mode.Mode.PerFile << mode.Mode.Encryption;
    }

    void awkwardTreeRoundTrips() {
        QFETCH(int, type);
        QFETCH(bool, zip);
        QFETCH(bool, perFile);
        QFETCH(int, encryption);
        // Names a file system allows and a backup must carry: blanks, quotes, backslashes,
        // Unicode, leading dashes, the longest names (an archive per file adds ".zip", so it
        // takes names of up to 251 bytes), a tree 100 levels deep, empty files and folders, links.
        const int longest = perFile ? 251 : 255;
        Touch(u"with blank and 'quotes' \"double\".txt"_s, "q");
        Touch(u"back\\slash\\name"_s, "b");
        Touch(u"Ünïcödé ✓ 日本/ファイル.txt"_s, "u");
        Touch(u"-leading-dash"_s, "d");
        Touch(u"--"_s, "dd");
        Touch(QString(longest, u'L'), "long");
        Touch(QString(longest / 2, u'é'), "long in two-byte units"); // 2 bytes each in UTF-8
        QString deep;
        for (int level = 0; level < 100; ++level)
            deep += u"level"_s + QString::number(level) + u'/';
        Touch(deep + u"bottom.txt"_s, "deep");
        Touch(u"empty"_s, QByteArray());
        QDir().mkpath(Src() + u"/empty folder/inner empty"_s);
        QVERIFY(QFile::link(u"-leading-dash"_s, Src() + u"/relative link"_s));
        QVERIFY(QFile::link(u"/nonexistent/target"_s, Src() + u"/dangling link"_s));

        auto job = NewJob(u"Awkward"_s, TBackupType(type), TMode{zip, perFile, encryption});
        RunBackup(*job);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0,
                 qPrintable(job->LastJobResult.Log.filter(u"ERROR"_s).join(u'\n')));
        Touch(u"-leading-dash"_s, "changed");
        QFile::remove(Src() + u"/--"_s);
        Touch(deep + u"second.txt"_s, "second");
        RunBackup(*job);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0,
                 qPrintable(job->LastJobResult.Log.filter(u"ERROR"_s).join(u'\n')));
        const TSnapshot expected = Snapshot(Src());
        const TSnapshot restored = Restore(*job, u"awkward"_s, -1, encryption >= 0 ? u"pässword"_s : QString());
        QVERIFY2(!job->LastJobResult.Cancelled, qPrintable(job->LastJobResult.Log.join(u'\n')));
        QVERIFY2(restored == expected, qPrintable(Describe(expected, restored)));
    }

    void firstRunsAreFullAndRecordTheirKind_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("marker");
        QTest::newRow("incremental") << int(btIncremental) << "Incremental)";
        QTest::newRow("differential") << int(btDifferential) << "Differential)";
        QTest::newRow("full") << int(btFull) << "Full)";
    }

    void firstRunsAreFullAndRecordTheirKind() {
        QFETCH(int, type);
        QFETCH(QString, marker);
        Touch(u"a.txt"_s, "a");
        auto job = NewJob(u"First"_s, TBackupType(type));
        RunBackup(*job);
        const QStringList points = Points(u"First"_s);
        QCOMPARE(points.size(), 1);
        QVERIFY(points.first().endsWith(u" (Full)"_s));
        TRemoteBackupState state;
        QVERIFY(job->LoadRemoteJobFile(Dest() + u"/First.vlj"_s, false, state));
        QCOMPARE(state.MainBackupList, (QStringList{marker, points.first()}));
        QCOMPARE(state.PreviousLocalFilesList, QStringList{u"src/a.txt"_s});
        QVERIFY(!QFileInfo::exists(Dest() + u"/First/_startflag.vll"_s));
        QVERIFY(job->LastJobResult.Log.filter(u"is finished. Files copied: 1."_s).size() == 1);
    }

    void retentionKeepsNewestFullCopies_data() {
        QTest::addColumn<int>("keep");
        QTest::addColumn<bool>("pruneFirst");
        QTest::addColumn<int>("left");
        QTest::newRow("keep 1 after the run") << 1 << false << 2;
        QTest::newRow("keep 1 before the run") << 1 << true << 2;
        QTest::newRow("keep 0 keeps all") << 0 << false << 5;
    }

    void retentionKeepsNewestFullCopies() {
        QFETCH(int, keep);
        QFETCH(bool, pruneFirst);
        QFETCH(int, left);
        auto job = NewJob(u"Keep"_s, btIncremental);
        job->Settings.Backup.PerformFullBackup_EveryCopies = 2;
        job->Settings.Backup.NumberFullCopiesToKeep = keep;
        job->Settings.Backup.RemoveOldBackupsBeforeStartingNewBackup = pruneFirst;
        for (int run = 0; run < 5; ++run) { // F1 I1 I2 F2 I3
            Touch(u"f.txt"_s, QByteArray::number(run));
            RunBackup(*job);
        }
        const QStringList points = Points(u"Keep"_s);
        QCOMPARE(points.size(), left);
        QCOMPARE(Folders(u"Keep"_s).size(), left); // the removed ones are gone from the destination
        if (keep == 1)
            QVERIFY(points.first().endsWith(u"(Full)"_s));
    }

    void mirrorFollowsTheSource() {
        auto job = NewJob(u"Mirror"_s, btSynchronization);
        Touch(u"a.txt"_s, "a");
        Touch(u"gone/b.txt"_s, "b");
        RunBackup(*job);
        QVERIFY(QFileInfo::exists(Dest() + u"/Mirror/src/gone/b.txt"_s));
        QDir(Src() + u"/gone"_s).removeRecursively();
        Touch(u"a.txt"_s, "a changed");
        RunBackup(*job);
        QVERIFY(!QFileInfo::exists(Dest() + u"/Mirror/src/gone"_s));
        QCOMPARE(Snapshot(Dest() + u"/Mirror/src"_s), Snapshot(Src()));
        QVERIFY(Folders(u"Mirror"_s) == QStringList{u"src"_s}); // no restore-point folders, no lists
        const TSnapshot restored = Restore(*job, u"mirror"_s);
        QVERIFY2(restored == Snapshot(Src()), qPrintable(Describe(Snapshot(Src()), restored)));

        // An interrupted mirror run: the next run starts over; a restore meanwhile is refused.
        SaveListFile(Dest() + u"/Mirror/_startflag.vll"_s, {});
        Write(Dest() + u"/Mirror/src/stray.txt"_s, "left by the interrupted run");
        const TRestoreListing refused = job->ReadRestorePoints();
        QVERIFY(!refused.Ok);
        QVERIFY(refused.Error.contains(u"Last backup job was cancelled"_s));
        QCOMPARE(job->JobStatus.Load(), jsNone);
        RunBackup(*job);
        QVERIFY(job->LastJobResult.Log.filter(u"We have to remove the previous backup."_s).size() == 1);
        QVERIFY(!QFileInfo::exists(Dest() + u"/Mirror/src/stray.txt"_s));
        QCOMPARE(Snapshot(Dest() + u"/Mirror/src"_s), Snapshot(Src()));
    }

    void interruptedRunIsSetAsideOrRemoved_data() {
        QTest::addColumn<bool>("removeCancelled");
        QTest::newRow("set aside") << false;
        QTest::newRow("removed") << true;
    }

    void interruptedRunIsSetAsideOrRemoved() {
        QFETCH(bool, removeCancelled);
        App().Options.Processing.RemovePreviousBackupIfCancelled = removeCancelled;
        auto job = NewJob(u"Flag"_s, btIncremental);
        Touch(u"a.txt"_s, "a");
        RunBackup(*job);
        // A run that died half-way: its folder and the flag naming it, no stored lists.
        const QString interrupted = u"2000-01-01 00;00;00 (Incremental)"_s;
        Write(Dest() + u"/Flag/"_s + interrupted + u"/src/a.txt"_s, "partial");
        SaveListFile(Dest() + u"/Flag/_startflag.vll"_s, {interrupted});
        Touch(u"a.txt"_s, "a2");
        RunBackup(*job);
        QVERIFY(job->LastJobResult.WarningsCount >= 1);
        QVERIFY(job->LastJobResult.Log.filter(u"The previous backup has been cancelled"_s).size() == 1);
        QCOMPARE(QFileInfo::exists(Dest() + u"/Flag/"_s + interrupted + u" CANCELED"_s), !removeCancelled);
        QVERIFY(!QFileInfo::exists(Dest() + u"/Flag/"_s + interrupted));
        // The new run compared against the last completed run: only a.txt was copied again.
        const QStringList points = Points(u"Flag"_s);
        QCOMPARE(points.size(), 2);
        QCOMPARE(ReadList(Dest() + u"/Flag/"_s + points.last() + u"/_rf.vll"_s), QStringList{u"src/a.txt"_s});
        QVERIFY(!QFileInfo::exists(Dest() + u"/Flag/_startflag.vll"_s));
    }

    void changedBackupTypeStartsOver() {
        auto job = NewJob(u"Typed"_s, btIncremental);
        Touch(u"a.txt"_s, "a");
        RunBackup(*job);
        RunBackup(*job);
        QCOMPARE(Points(u"Typed"_s).size(), 2);
        job->SetBackupType(btDifferential);
        RunBackup(*job);
        QVERIFY(job->LastJobResult.Log.filter(u"Backup type has been changed in the settings."_s).size() == 1);
        const QStringList points = Points(u"Typed"_s);
        QCOMPARE(points.size(), 1);
        QCOMPARE(Folders(u"Typed"_s).size(), 1);
        QVERIFY(points.first().endsWith(u"(Full)"_s));
        TRemoteBackupState state;
        QVERIFY(job->LoadRemoteJobFile(Dest() + u"/Typed.vlj"_s, false, state));
        QCOMPARE(state.MainBackupList.first(), u"Differential)"_s);
    }

    // Runs within one second wait for the next one: each restore point has a name of its own.
    void runsInOneSecondGetPointsOfTheirOwn() {
        auto job = NewJob(u"Quick"_s, btIncremental);
        Touch(u"a.txt"_s, "a");
        RunBackup(*job);
        Touch(u"a.txt"_s, "a2");
        RunBackup(*job);
        QCOMPARE(Points(u"Quick"_s),
                 (QStringList{u"2026-03-02 12;00;00 (Full)"_s, u"2026-03-02 12;00;01 (Incremental)"_s}));
        QCOMPARE(m_sleeper.TotalMilliseconds, 1001);
    }

    void filtersExclusionsAndHiddenFiles() {
        Touch(u"a.txt"_s, "a");
        Touch(u"b.TXT"_s, "b");
        Touch(u"c.doc"_s, "c");
        Touch(u"noext"_s, "n");
        Touch(u".hidden"_s, "h");
        Touch(u"cache/x.txt"_s, "x");
        Touch(u"deep/node_modules/y.txt"_s, "y");
        Touch(u"deep/pagefile.sys"_s, "never");
        QVERIFY(::mkfifo(QFile::encodeName(Src() + u"/fifo"_s).constData(), 0600) == 0);
        App().Options.ExcludedDirs = {(Src() + u"/cache"_s).toLower(), u"%anypath%/node_modules"_s};
        App().Options.Processing.SkipHiddenSystemFiles = true;
        auto job = NewJob(u"Filtered"_s, btFull);
        job->Settings.Sources.FilterType = ftIncludeOnly;
        job->Settings.Sources.Extensions = u"txt;sys"_s;
        // A single-file source is never filtered.
        job->Settings.Sources.List.append(Src() + u"/c.doc"_s);
        RunBackup(*job);
        const QString point = Points(u"Filtered"_s).first();
        QStringList copied = ReadList(Dest() + u"/Filtered/"_s + point + u"/_rf.vll"_s);
        copied.sort();
        QCOMPARE(copied, (QStringList{u"c.doc"_s, u"src/a.txt"_s, u"src/b.TXT"_s}));
        QCOMPARE(job->LastJobResult.ErrorsCount.Load(), 0);
    }

    void unreadableSourceFileIsNeverRecordedAsRemoved() {
        auto job = NewJob(u"Unreadable"_s, btIncremental);
        Touch(u"a.txt"_s, "a");
        Touch(u"b.txt"_s, "b");
        RunBackup(*job);
        // b.txt changes but cannot be read in this run.
        Touch(u"b.txt"_s, "b2");
        m_onUpload = [](const QString& local, const QString&) -> std::optional<TBranchResult> {
            if (local.endsWith(u"/b.txt"_s))
                return TBranchResult::LocalAccess(u"Permission denied"_s);
            return std::nullopt;
        };
        RunBackup(*job);
        QCOMPARE(job->LastJobResult.ErrorsCount.Load(), 1);
        const QString second = Points(u"Unreadable"_s).last();
        QCOMPARE(ReadList(Dest() + u"/Unreadable/"_s + second + u"/_rrf.vll"_s), QStringList());
        QCOMPARE(ReadList(Dest() + u"/Unreadable/"_s + second + u"/_rf.vll"_s), QStringList());
        // Restoring that point keeps the old b.txt, and the next run picks the change up.
        const TSnapshot restored = Restore(*job, u"unreadable"_s);
        QCOMPARE(restored.at(u"b.txt"_s).Data, QByteArray("b"));
        m_onUpload = nullptr;
        RunBackup(*job);
        QCOMPARE(ReadList(Dest() + u"/Unreadable/"_s + Points(u"Unreadable"_s).last() + u"/_rf.vll"_s),
                 QStringList{u"src/b.txt"_s});
    }

    void pauseAndResume() {
        for (int i = 0; i < 6; ++i)
            Touch(u"f"_s + QString::number(i), "x");
        auto job = NewJob(u"Paused"_s, btFull);
        int uploads = 0;
        m_onUpload = [&](const QString& local, const QString&) -> std::optional<TBranchResult> {
            if (local.contains(u"/src/"_s) && ++uploads == 3)
                job->Pause();
            return std::nullopt;
        };
        int sleepsWhilePaused = 0;
        m_sleeper.OnSleep = [&](int) {
            if (job->JobStatus == jsPaused && ++sleepsWhilePaused == 3)
                job->Resume();
        };
        RunBackup(*job);
        QCOMPARE(sleepsWhilePaused, 3);
        QCOMPARE(job->CurrentBackupFilesProcessed.Load(), 6);
        QVERIFY(!job->LastJobResult.Cancelled);
    }

    void cancelLeavesTheFlagForTheNextRun() {
        for (int i = 0; i < 6; ++i)
            Touch(u"f"_s + QString::number(i), "x");
        auto job = NewJob(u"Cancelled"_s, btIncremental);
        int uploads = 0;
        m_onUpload = [&](const QString& local, const QString&) -> std::optional<TBranchResult> {
            if (local.contains(u"/src/"_s) && ++uploads == 2)
                job->Cancel();
            return std::nullopt;
        };
        RunBackup(*job);
        QVERIFY(job->LastJobResult.Cancelled);
        QVERIFY(job->LastJobResult.Log.filter(u"Backup is cancelled."_s).size() == 1);
        QVERIFY(job->CurrentBackupFilesProcessed < 6);
        QVERIFY(QFileInfo::exists(Dest() + u"/Cancelled/_startflag.vll"_s));
        QVERIFY(!QFileInfo::exists(Dest() + u"/Cancelled.vlj"_s));
        m_onUpload = nullptr;
        RunBackup(*job);
        QVERIFY(!job->LastJobResult.Cancelled);
        QCOMPARE(job->CurrentBackupFilesProcessed.Load(), 6);
        const TSnapshot restored = Restore(*job, u"cancelled"_s);
        QVERIFY(restored == Snapshot(Src()));
    }

    void destinationStopsAccepting_data() {
        QTest::addColumn<int>("policy");
        QTest::newRow("cancel the job") << 0;
        QTest::newRow("pause and wait") << 1;
    }

    void destinationStopsAccepting() {
        QFETCH(int, policy);
        App().Options.Processing.IfDestinationNotAvailable_Then = policy;
        App().Options.Processing.IfDestinationNotAvailable_Retry_Times = 1;
        for (int i = 0; i < 4; ++i)
            Touch(u"f"_s + QString::number(i), "x");
        auto job = NewJob(u"Unplugged"_s, btFull);
        bool unplugged = false;
        int uploads = 0;
        m_onUpload = [&](const QString& local, const QString&) -> std::optional<TBranchResult> {
            if (local.contains(u"/src/"_s) && ++uploads == 2)
                unplugged = true;
            if (unplugged)
                return TBranchResult::Failure(u"The device is not ready."_s);
            return std::nullopt;
        };
        bool sawWaiting = false;
        m_sleeper.OnSleep = [&](int) {
            if (job->JobStatus == jsPaused && job->CurrentFileOperationType == atNone_WaitingForReconnection) {
                sawWaiting = true;
                unplugged = false; // the user plugs the drive back in and resumes
                job->Resume();
            }
        };
        RunBackup(*job);
        if (policy == 0) {
            QVERIFY(job->LastJobResult.Cancelled);
            QVERIFY(job->LastJobResult.Log.filter(u"destination is not accepting the file"_s).size() == 1);
            QVERIFY(!sawWaiting);
        } else {
            QVERIFY(sawWaiting);
            QVERIFY(!job->LastJobResult.Cancelled);
            QCOMPARE(job->CurrentBackupFilesProcessed.Load(), 4);
            const TSnapshot restored = Restore(*job, u"unplugged"_s);
            QVERIFY(restored == Snapshot(Src()));
        }
    }

    void restoreRefusesEntriesLeadingOut() {
        auto job = NewJob(u"Hostile"_s, btFull);
        Touch(u"a.txt"_s, "a");
        RunBackup(*job);
        const QString point = Dest() + u"/Hostile/"_s + Points(u"Hostile"_s).first();
        Write(point + u"/escape.txt"_s, "evil");
        SaveListFile(point + u"/_rf.vll"_s, {u"src/a.txt"_s, u"src/../../escape.txt"_s});
        Restore(*job, u"hostile"_s);
        QVERIFY(job->LastJobResult.Cancelled);
        QVERIFY(!QFileInfo::exists(m_root->filePath(u"escape.txt"_s)));
        QVERIFY(job->LastJobResult.Log.filter(u"leads outside the output folder"_s).size() == 1);
    }

    // An empty list entry names the output folder itself: fetching it would extract a per-file
    // archive into the folder above, removing it would remove the user's output folder.
    void restoreRefusesEntriesNamingTheOutputFolder_data() {
        QTest::addColumn<bool>("perFile");
        QTest::addColumn<QString>("list");
        QTest::newRow("empty line in the files to fetch, per-file ZIP") << true << u"_rf.vll"_s;
        QTest::newRow("blank line in the folders to remove") << false << u"_rrd.vll"_s;
    }

    void restoreRefusesEntriesNamingTheOutputFolder() {
        QFETCH(bool, perFile);
        QFETCH(QString, list);
        auto job = NewJob(u"Blank"_s, btFull, TMode{perFile, perFile, -1});
        Touch(u"a.txt"_s, "a");
        RunBackup(*job);
        const QString point = Dest() + u"/Blank/"_s + Points(u"Blank"_s).first();
        if (perFile)
            QVERIFY(QFile::copy(point + u"/src/a.txt.zip"_s, point + u"/.zip"_s));
        SaveListFile(point + u'/' + list, {QString()});
        const QString userFile = Out(u"blank"_s) + u"/mine.txt"_s;
        Write(userFile, "the user's own");
        Restore(*job, u"blank"_s);
        QVERIFY(job->LastJobResult.Cancelled);
        QVERIFY(job->LastJobResult.ErrorsCount > 0);
        QVERIFY(QFileInfo::exists(userFile));
        QVERIFY(!QFileInfo::exists(m_root->filePath(u"a.txt"_s)));
        QVERIFY(job->LastJobResult.Log.filter(u"leads outside the output folder"_s).size() == 1);
    }
};

QTEST_GUILESS_MAIN(TestBackupRestore)
#include "tst_BackupRestore.moc"
