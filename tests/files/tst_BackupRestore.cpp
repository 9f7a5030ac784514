// Files-and-folders backups and restores end to end, on real folders, through the job's public
// operations: chains of restore points restored against snapshots of the source, every storage
// mode, retention, mirrors, interrupted runs, filters, pause, cancel and failing destinations.

#include "tests/files/THookedBranch.h"
#include "tests/storage/TFakeSleeper.h"

#include "core/base/AtomicFile.h"
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

struct TStatus {
    int Mode = -1; // permission bits, -1 when missing
    qint64 MTimeNs = 0;
    uint Owner = 0;
    uint Group = 0;
};

TStatus StatusOf(const QString& path) {
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {int(st.st_mode & 07777), qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec, st.st_uid,
            st.st_gid};
}

void SetMTime(const QString& path, qint64 seconds, long nanoseconds) {
    const struct timespec times[2] = {{time_t(seconds), nanoseconds}, {time_t(seconds), nanoseconds}};
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0);
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
    bool m_holdsLinks = true;       // whether the destination keeps symbolic links
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
            return std::make_unique<THookedBranch>(owner, &m_onUpload, &m_onCreateFolder, &m_holdsLinks);
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

    // The storage modes a metadata round trip is checked in.
    static void StorageModeRows() {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("zip");
        QTest::addColumn<bool>("perFile");
        QTest::addColumn<int>("encryption");
        QTest::newRow("incremental, plain") << int(btIncremental) << false << false << -1;
        QTest::newRow("incremental, one archive") << int(btIncremental) << true << false << -1;
        QTest::newRow("incremental, one archive with password") << int(btIncremental) << true << false << 2;
        QTest::newRow("incremental, archive per file") << int(btIncremental) << true << true << -1;
        QTest::newRow("incremental, archive per file with password") << int(btIncremental) << true << true << 3;
        QTest::newRow("differential, plain") << int(btDifferential) << false << false << -1;
        QTest::newRow("differential, archive per file") << int(btDifferential) << true << true << -1;
    }

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
        AtomicWriteFaultForTesting = nullptr; // a failed test must not leave the data folder "full"
        m_holdsLinks = true;
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

    // Every entry of every list must name an item strictly below the output folder. An entry with
    // an empty, "." or ".." part, or a NUL (the system would see a shorter path), names another
    // item or none; it is refused as an error in every storage mode, before anything is done
    // with it.
    void restoreRefusesEntriesNotStrictlyBelowTheOutput_data() {
        QTest::addColumn<int>("mode"); // 0 plain copies, 1 one archive, 2 an archive per file, 3 mirror
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("entry");
        const QString forms[] = {
            u""_s,   u"."_s,          u"./src"_s,  u"src/./a.txt"_s,  u"src//a.txt"_s,           u"src/"_s,
            u"//"_s, u"/src/a.txt"_s, u"src/.."_s, u"src/a.txt/.."_s, u"src/a.txt"_s + QChar(0), QString(QChar(0))};
        const auto add = [&](int mode, const QString& list) {
            for (const QString& entry : forms) {
                const QString shown = QString(entry).replace(QChar(0), u"<NUL>"_s);
                QTest::addRow("mode %d, %s, \"%s\"", mode, qPrintable(list), qPrintable(shown))
                    << mode << list << entry;
            }
        };
        for (const QString& list : {u"_rf.vll"_s, u"_rd.vll"_s, u"_rrf.vll"_s, u"_rrd.vll"_s})
            add(0, list);
        add(1, u"_rf.vll"_s);
        add(2, u"_rf.vll"_s);
        add(3, u"files"_s);
        add(3, u"folders"_s);
    }

    void restoreRefusesEntriesNotStrictlyBelowTheOutput() {
        QFETCH(int, mode);
        QFETCH(QString, list);
        QFETCH(QString, entry);
        auto job = mode == 3 ? NewJob(u"Hostile"_s, btSynchronization)
                             : NewJob(u"Hostile"_s, btFull, TMode{mode > 0, mode == 2, -1});
        Touch(u"a.txt"_s, "a");
        Touch(u"sub/b.txt"_s, "b");
        RunBackup(*job);
        QCOMPARE(job->LastJobResult.ErrorsCount.Load(), 0);
        if (mode == 3) {
            TRemoteBackupState state;
            const QString stored = Dest() + u"/Hostile.vlj"_s;
            QVERIFY(job->LoadRemoteJobFile(stored, false, state));
            if (list == u"files"_s) {
                state.PreviousLocalFilesList.append(entry);
                state.PreviousLocalFilesTimeList.append(u"0"_s);
            } else {
                state.PreviousLocalDirsList.append(entry);
            }
            QVERIFY(job->SaveRemoteJobFile(stored, state));
        } else {
            const QString point = Dest() + u"/Hostile/"_s + Points(u"Hostile"_s).first();
            const QString file = point + u'/' + list;
            QVERIFY(SaveListFile(file, ReadList(file) << entry));
        }
        // The user's files in the output folder and beside it.
        const QString out = Out(u"hostile"_s);
        Write(out + u"/mine.txt"_s, "the user's own");
        Write(out + u"/src/a.txt"_s, "the user's a");
        Write(m_root->filePath(u"beside.txt"_s), "beside the output folder");

        Restore(*job, u"hostile"_s);

        QVERIFY(job->LastJobResult.Cancelled);
        QVERIFY(job->LastJobResult.ErrorsCount > 0);
        QVERIFY2(job->LastJobResult.Log.filter(u"leads outside the output folder"_s).size() == 1,
                 qPrintable(job->LastJobResult.Log.join(u'\n')));
        QVERIFY(QFileInfo(out).isDir());
        QFile mine(out + u"/mine.txt"_s);
        QVERIFY(mine.open(QIODevice::ReadOnly));
        QCOMPARE(mine.readAll(), QByteArray("the user's own"));
        QFile beside(m_root->filePath(u"beside.txt"_s));
        QVERIFY(beside.open(QIODevice::ReadOnly));
        QCOMPARE(beside.readAll(), QByteArray("beside the output folder"));
        QVERIFY(!QFileInfo::exists(m_root->filePath(u"a.txt"_s)));
        QVERIFY(QFileInfo::exists(out + u"/src/a.txt"_s)); // nothing of the user's was removed
    }

    // A full data (or log) folder: the run's record cannot be written. That is an error of the
    // run, never a silent success, and the previous file stays whole.
    void unwritableRunRecordIsAnErrorOfTheRun_data() {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<QString>("failing"); // what the path of the file that cannot be written holds
        QTest::newRow("backup, local job file") << false << u".vld"_s;
        QTest::newRow("backup, stored log") << false << u"/logs/"_s;
        QTest::newRow("restore, local job file") << true << u".vld"_s;
        QTest::newRow("restore, stored log") << true << u"/logs/"_s;
    }

    void unwritableRunRecordIsAnErrorOfTheRun() {
        QFETCH(bool, restore);
        QFETCH(QString, failing);
        auto job = NewJob(u"Full"_s, btIncremental);
        Touch(u"a.txt"_s, "a");
        RunBackup(*job);
        QCOMPARE(job->LastJobResult.ErrorsCount.Load(), 0);
        QCOMPARE(job->LogList.size(), 1);
        const QString local = job->LocalJobFilePath();
        const auto contents = [](const QString& path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray before = contents(local);
        QVERIFY(!before.isEmpty());
        const QStringList logsBefore = QDir(job->LogFolderPath()).entryList(QDir::Files | QDir::Hidden);

        AtomicWriteFaultForTesting = [&](const QString& path) { return path.contains(failing); };
        if (restore) {
            Restore(*job, u"full"_s);
        } else {
            Touch(u"a.txt"_s, "a2");
            job->Backup();
            job->WaitForWorker();
        }
        AtomicWriteFaultForTesting = nullptr;

        QCOMPARE(job->LastJobResult.ErrorsCount.Load(), 1);
        QVERIFY2(job->LastJobResult.Log.last().contains(u"ERROR: Unable to"_s),
                 qPrintable(job->LastJobResult.Log.join(u'\n')));
        bool inEventsLog = false;
        for (const QString& line : App().EventsLog.PendingLines())
            inEventsLog = inEventsLog || (line.contains(u"Unable to"_s) && line.contains(failing));
        QVERIFY(inEventsLog);
        // No half-written file and no temporary file is left; the stored log list stays as it was.
        if (failing == u"/logs/"_s)
            QCOMPARE(QDir(job->LogFolderPath()).entryList(QDir::Files | QDir::Hidden), logsBefore);
        QCOMPARE(QDir(App().ApplicationDirectory).entryList({u"*.tmp-*"_s}, QDir::Files | QDir::Hidden), QStringList());
        if (failing == u".vld"_s) {
            QCOMPARE(contents(local), before);
        } else {
            // The record that was saved says the run had an error, and names no missing log.
            TJob_FilesAndFolders reloaded(u"Full"_s);
            QVERIFY(reloaded.LoadLocalJobFile(local));
            QCOMPARE(reloaded.LastJobResult.ErrorsCount.Load(), 1);
            QCOMPARE(reloaded.LogList, job->LogList);
            QCOMPARE(reloaded.LogList.size(), 1);
        }
    }

    void modeChangeAloneIsBackedUp_data() { StorageModeRows(); }

    void modeChangeAloneIsBackedUp() {
        QFETCH(int, type);
        QFETCH(bool, zip);
        QFETCH(bool, perFile);
        QFETCH(int, encryption);
        const QString password = encryption >= 0 ? u"pässword"_s : QString();
        Touch(u"a.txt"_s, "a");
        Touch(u"dir/b.txt"_s, "b");
        auto job = NewJob(u"Modes"_s, TBackupType(type), TMode{zip, perFile, encryption});
        RunBackup(*job);
        // The mode alone changes: the last-write time stays.
        const qint64 before = StatusOf(Src() + u"/a.txt"_s).MTimeNs;
        QVERIFY(::chmod(QFile::encodeName(Src() + u"/a.txt"_s).constData(), 0600) == 0);
        QCOMPARE(StatusOf(Src() + u"/a.txt"_s).MTimeNs, before);
        RunBackup(*job);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0, qPrintable(job->LastJobResult.Log.join(u'\n')));
        const QStringList points = Points(u"Modes"_s);
        QCOMPARE(points.size(), 2);
        QCOMPARE(ReadList(Dest() + u"/Modes/"_s + points.last() + u"/_rf.vll"_s), QStringList{u"src/a.txt"_s});
        // Nothing changed since: the next run copies nothing.
        RunBackup(*job);
        QCOMPARE(ReadList(Dest() + u"/Modes/"_s + Points(u"Modes"_s).last() + u"/_rf.vll"_s),
                 type == btDifferential ? QStringList{u"src/a.txt"_s} : QStringList());

        const TSnapshot restored = Restore(*job, u"modes"_s, 1, password);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0 && job->LastJobResult.WarningsCount == 0 &&
                     !job->LastJobResult.Cancelled,
                 qPrintable(job->LastJobResult.Log.join(u'\n')));
        QVERIFY2(restored == Snapshot(Src()), qPrintable(Describe(Snapshot(Src()), restored)));
        QCOMPARE(restored.at(u"a.txt"_s).Mode, 0600);
        // The first point gives the mode the file had then.
        QCOMPARE(Restore(*job, u"first"_s, 0, password).at(u"a.txt"_s).Mode, 0644);
    }

    void modesAndTimesComeBack_data() { StorageModeRows(); }

    void modesAndTimesComeBack() {
        QFETCH(int, type);
        QFETCH(bool, zip);
        QFETCH(bool, perFile);
        QFETCH(int, encryption);
        const QString password = encryption >= 0 ? u"pässword"_s : QString();
        Touch(u"private/key"_s, "k");
        Touch(u"private/tool"_s, "t");
        Touch(u"shared/group.txt"_s, "g");
        Touch(u"drop/x"_s, "x");
        QDir().mkpath(Src() + u"/private/empty"_s);
        // Deepest first, so that a folder's time is set after its content.
        struct {
            QString Rel;
            int Mode;
            qint64 Seconds;
            long Nanoseconds;
            int Restored; // the mode a restore gives back
        } items[] = {{u"private/empty"_s, 0700, 1'500'000'000, 5, 0700},
                     {u"private/key"_s, 0604, 1'400'000'000, 777, 0604},
                     {u"private/tool"_s, 06755, 1'400'000'001, 999'999'999, 0755}, // no set-user/group-ID
                     {u"private"_s, 0700, 1'600'000'000, 111'111'111, 0700},
                     {u"shared"_s, 02710, 1'600'000'100, 222'222'222, 02710},
                     {u"drop"_s, 01777, 1'600'000'150, 1, 01777},
                     {QString(), 0750, 1'600'000'200, 333'333'333, 0750}};
        const auto apply = [&] {
            for (const auto& item : items) {
                const QString path = item.Rel.isEmpty() ? Src() : Src() + u'/' + item.Rel;
                QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(item.Mode)) == 0);
                SetMTime(path, item.Seconds, item.Nanoseconds);
            }
        };
        const auto expected = [&] {
            TSnapshot source = Snapshot(Src());
            source[u"private/tool"_s].Mode = 0755;
            return source;
        };
        const auto check = [&](const QString& outName) {
            for (const auto& item : items) {
                const QString rel = item.Rel.isEmpty() ? QString() : u'/' + item.Rel;
                const TStatus out = StatusOf(Out(outName) + u"/src"_s + rel);
                QVERIFY2(out.Mode == item.Restored, qPrintable(rel + u" mode "_s + QString::number(out.Mode, 8)));
                QCOMPARE(out.MTimeNs, item.Seconds * 1'000'000'000 + item.Nanoseconds);
            }
        };
        apply();
        auto job = NewJob(u"Modes"_s, TBackupType(type), TMode{zip, perFile, encryption});
        RunBackup(*job);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0, qPrintable(job->LastJobResult.Log.join(u'\n')));
        TSnapshot restored = Restore(*job, u"full"_s, 0, password);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0 && job->LastJobResult.WarningsCount == 0,
                 qPrintable(job->LastJobResult.Log.join(u'\n')));
        QVERIFY2(restored == expected(), qPrintable(Describe(expected(), restored)));
        check(u"full"_s);
        // A new file and a folder's new mode: a restore of the next point gives the folders as they are now.
        Touch(u"shared/new.txt"_s, "n");
        items[4].Mode = items[4].Restored = 0750;
        apply();
        RunBackup(*job);
        restored = Restore(*job, u"next"_s, 1, password);
        QVERIFY2(restored == expected(), qPrintable(Describe(expected(), restored)));
        check(u"next"_s);
    }

    void ownersComeBackAsRoot_data() { StorageModeRows(); }

    void ownersComeBackAsRoot() {
        QFETCH(int, type);
        QFETCH(bool, zip);
        QFETCH(bool, perFile);
        QFETCH(int, encryption);
        const QString password = encryption >= 0 ? u"pässword"_s : QString();
        if (::geteuid() != 0)
            QSKIP("only root can give files away");
        Touch(u"owned/file.txt"_s, "f");
        Touch(u"plain.txt"_s, "p");
        const auto chown = [this](const QString& rel, uint owner, uint group) {
            return ::lchown(QFile::encodeName(Src() + u'/' + rel).constData(), owner, group) == 0;
        };
        QVERIFY(chown(u"owned"_s, 4242, 4343));
        QVERIFY(chown(u"owned/file.txt"_s, 4244, 4345));
        QVERIFY(QFile::link(u"file.txt"_s, Src() + u"/owned/link"_s));
        QVERIFY(chown(u"owned/link"_s, 4246, 4347));
        auto job = NewJob(u"Owners"_s, TBackupType(type), TMode{zip, perFile, encryption});
        RunBackup(*job);
        // The owner alone changes.
        QVERIFY(chown(u"plain.txt"_s, 4248, 4349));
        RunBackup(*job);
        QCOMPARE(ReadList(Dest() + u"/Owners/"_s + Points(u"Owners"_s).last() + u"/_rf.vll"_s),
                 QStringList{u"src/plain.txt"_s});
        const TSnapshot restored = Restore(*job, u"owners"_s, 1, password);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0 && !job->LastJobResult.Cancelled,
                 qPrintable(job->LastJobResult.Log.join(u'\n')));
        QVERIFY2(restored == Snapshot(Src()), qPrintable(Describe(Snapshot(Src()), restored)));
        const QString out = Out(u"owners"_s) + u"/src/"_s;
        const struct {
            QString Rel;
            uint Owner;
            uint Group;
        } expected[] = {{u"owned"_s, 4242, 4343},
                        {u"owned/file.txt"_s, 4244, 4345},
                        {u"owned/link"_s, 4246, 4347},
                        {u"plain.txt"_s, 4248, 4349}};
        for (const auto& item : expected) {
            const TStatus status = StatusOf(out + item.Rel);
            QVERIFY2(status.Owner == item.Owner && status.Group == item.Group, qPrintable(item.Rel));
        }
    }

    void pointWithoutMetadataListRestoresAsBefore() {
        Touch(u"a.txt"_s, "a");
        Write(Src() + u"/private/key"_s, "k", ++m_clock, 0600);
        QVERIFY(::chmod(QFile::encodeName(Src() + u"/private"_s).constData(), 0700) == 0);
        auto job = NewJob(u"Older"_s, btIncremental);
        RunBackup(*job);
        // A point made before the list existed.
        const QString first = Dest() + u"/Older/"_s + Points(u"Older"_s).first();
        QVERIFY(QFile::remove(first + u"/_rm.vll"_s));
        TSnapshot restored = Restore(*job, u"older"_s);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0 && job->LastJobResult.WarningsCount == 0 &&
                     !job->LastJobResult.Cancelled,
                 qPrintable(job->LastJobResult.Log.join(u'\n')));
        for (const QString& file : {u"a.txt"_s, u"private/key"_s})
            QVERIFY(restored.at(file) == Snapshot(Src()).at(file));
        QCOMPARE(restored.at(u"private"_s).Mode, 0755); // folders come back as they always did

        // The next point has its list again, and a restore of it applies that list.
        Touch(u"a.txt"_s, "a2");
        RunBackup(*job);
        restored = Restore(*job, u"newer"_s);
        QVERIFY2(restored == Snapshot(Src()), qPrintable(Describe(Snapshot(Src()), restored)));
    }

    void linksOnADestinationWithoutLinks() {
        m_holdsLinks = false;
        Touch(u"target.txt"_s, "target");
        QVERIFY(QFile::link(u"target.txt"_s, Src() + u"/relative link"_s));
        QVERIFY(QFile::link(u"/etc/hostname"_s, Src() + u"/absolute link"_s));
        QVERIFY(QFile::link(u"/nonexistent/\target\n"_s, Src() + u"/dangling link"_s));
        Touch(u"sub/file.txt"_s, "f");
        QVERIFY(QFile::link(u"../target.txt"_s, Src() + u"/sub/inner link"_s));
        auto job = NewJob(u"NoLinks"_s, btIncremental);
        RunBackup(*job);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0, qPrintable(job->LastJobResult.Log.join(u'\n')));
        const QString point = Dest() + u"/NoLinks/"_s + Points(u"NoLinks"_s).first();
        // The list holds the links; no target's content went to the destination.
        for (const QString& link : {u"relative link"_s, u"absolute link"_s, u"dangling link"_s, u"sub/inner link"_s})
            QVERIFY(!QFileInfo::exists(point + u"/src/"_s + link) && !QFileInfo(point + u"/src/"_s + link).isSymLink());
        QVERIFY(ReadList(point + u"/_rf.vll"_s).contains(u"src/absolute link"_s));
        Touch(u"target.txt"_s, "target changed");
        RunBackup(*job);
        const TSnapshot restored = Restore(*job, u"nolinks"_s);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0 && !job->LastJobResult.Cancelled,
                 qPrintable(job->LastJobResult.Log.join(u'\n')));
        QVERIFY2(restored == Snapshot(Src()), qPrintable(Describe(Snapshot(Src()), restored)));
    }

    // A link the list alone holds, gone before its target was read: it must not be listed as
    // copied, or a restore would look for it at the destination and give up.
    void linkGoneBeforeItIsRecorded() {
        m_holdsLinks = false;
        Touch(u"sub/b.txt"_s, "b");
        auto job = NewJob(u"Gone"_s, btIncremental);
        RunBackup(*job);
        // The next run makes the folder in its restore point for the new link, just before the
        // link's target is read: the link goes in between.
        QVERIFY(QFile::link(u"b.txt"_s, Src() + u"/sub/link"_s));
        m_onCreateFolder = [this](const QString&, const QString& remote) -> std::optional<TBranchResult> {
            if (remote.endsWith(u"/src/sub"_s))
                QFile::remove(Src() + u"/sub/link"_s);
            return std::nullopt;
        };
        RunBackup(*job);
        QVERIFY(!QFileInfo(Src() + u"/sub/link"_s).isSymLink());
        QCOMPARE(job->LastJobResult.ErrorsCount.Load(), 1);
        const QString point = Dest() + u"/Gone/"_s + Points(u"Gone"_s).last();
        QCOMPARE(ReadList(point + u"/_rf.vll"_s), QStringList());
        const TSnapshot restored = Restore(*job, u"gone"_s);
        QVERIFY2(job->LastJobResult.ErrorsCount == 0 && !job->LastJobResult.Cancelled,
                 qPrintable(job->LastJobResult.Log.join(u'\n')));
        QVERIFY2(restored == Snapshot(Src()), qPrintable(Describe(Snapshot(Src()), restored)));
    }

    void hostileMetadataListIsRefused() {
        Touch(u"a.txt"_s, "a");
        // Outside the output folder: must stay as it is.
        const QString outside = m_root->filePath(u"outside.txt"_s);
        Write(outside, "outside", 1'234'567'890, 0640);
        QDir().mkpath(m_root->filePath(u"outside dir"_s));
        Write(m_root->filePath(u"outside dir/x.txt"_s), "x", 1'234'567'890, 0640);
        QVERIFY(QFile::link(outside, Src() + u"/link"_s));
        QVERIFY(QFile::link(m_root->filePath(u"outside dir"_s), Src() + u"/linkdir"_s));
        auto job = NewJob(u"Hostile"_s, btFull);
        RunBackup(*job);
        const QString point = Dest() + u"/Hostile/"_s + Points(u"Hostile"_s).first();
        const QByteArray good = "\tf\t0777\t0\t0\t1.000000000";
        const QByteArray damaged[] = {
            ".." + good,
            "src/.." + good,
            "src/../../outside.txt" + good,
            QFile::encodeName(outside) + good,
            good,                                     // empty path
            "",                                       // empty line
            "src/a\x01.txt" + good,                   // a raw control character
            "src//a.txt" + good,                      // an empty component
            "src/a.txt\\q" + good,                    // an escape that is not one
            "src/a.txt\tf\t0999\t0\t0\t1.000000000",  // not octal
            "src/a.txt\tf\t77777\t0\t0\t1.000000000", // too many mode digits
            "src/a.txt\tf\t0644\t99999999999\t0\t1.000000000",
            "src/a.txt\tf\t0644\t0\t4294967295\t1.000000000",
            "src/a.txt\tf\t0644\t0\t0\t99999999999999999999.000000000",
            "src/a.txt\tf\t0644\t0\t0\t1.0000000001",
            "src/a.txt\tf\t0644\t0\t0\t1.000000000\textra",
            "src/a.txt\tx\t0644\t0\t0\t1.000000000",
            "src/link\tl\t0777\t0\t0\t1.000000000", // a link without its target
        };
        QByteArray list("\xEF\xBB\xBF");
        for (const QByteArray& line : damaged)
            list += line + "\r\n";
        // Well-formed lines that must not reach outside either: a link is never followed, an item
        // below a link is refused.
        list += "src/link\tf\t0777\t0\t0\t1.000000000\r\n";
        list += "src/link\tl\t0777\t0\t0\t1.000000000\t/etc\r\n";
        list += "src/linkdir/x.txt\tf\t0777\t0\t0\t1.000000000\r\n";
        Write(point + u"/_rm.vll"_s, list);
        const TStatus outsideBefore = StatusOf(outside);
        const TStatus insideBefore = StatusOf(m_root->filePath(u"outside dir/x.txt"_s));
        const TSnapshot restored = Restore(*job, u"hostile"_s);
        QCOMPARE(restored.at(u"a.txt"_s).Data, QByteArray("a"));
        const QStringList log = job->LastJobResult.Log;
        QCOMPARE(log.filter(u"A damaged line of the metadata list is left out"_s).size(), int(std::size(damaged)));
        for (int line = 1; line <= int(std::size(damaged)); ++line) {
            const QString ending = u"/_rm.vll:"_s + QString::number(line);
            QVERIFY2(
                std::count_if(log.begin(), log.end(), [&](const QString& text) { return text.endsWith(ending); }) == 1,
                qPrintable(log.join(u'\n')));
        }
        QVERIFY(log.filter(u"leads outside the output folder"_s).size() == 1);
        QVERIFY(job->LastJobResult.ErrorsCount >= int(std::size(damaged)));
        for (const auto& [path, before] :
             {std::pair{outside, outsideBefore}, std::pair{m_root->filePath(u"outside dir/x.txt"_s), insideBefore}}) {
            const TStatus after = StatusOf(path);
            QCOMPARE(after.Mode, before.Mode);
            QCOMPARE(after.MTimeNs, before.MTimeNs);
        }
        QCOMPARE(StatusOf(m_root->filePath(u"outside dir"_s)).Mode, 0755);
    }
};

QTEST_GUILESS_MAIN(TestBackupRestore)
#include "tst_BackupRestore.moc"
