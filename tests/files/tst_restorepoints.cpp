// Restore-point names, the choice of the run kind, retention, sizes, list files and file stamps.

#include "core/base/TextFormat.h"
#include "jobs/files/ListFiles.h"
#include "jobs/files/RestorePoints.h"
#include "jobs/files/TFileTimeStamp.h"
#include "jobs/files/TPathList.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
QString Same(const QString& text) {
    return text;
}
} // namespace

class TestRestorePoints : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void names_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("zip");
        QTest::addColumn<bool>("perFile");
        QTest::addColumn<bool>("password");
        QTest::addColumn<QString>("name");
        const int full = int(TRunKind::Full), inc = int(TRunKind::Incremental), diff = int(TRunKind::Differential);
        QTest::newRow("plain full") << full << false << false << false << "2024-05-01 14;30;00 (Full)";
        QTest::newRow("password is ignored without zip")
            << inc << false << false << true << "2024-05-01 14;30;00 (Incremental)";
        QTest::newRow("one archive") << diff << true << false << false << "2024-05-01 14;30;00 (ZIP, Differential)";
        QTest::newRow("one protected archive")
            << inc << true << false << true << "2024-05-01 14;30;00 (ZIP , Incremental)";
        QTest::newRow("archive per file") << full << true << true << false << "2024-05-01 14;30;00 (ZIPs, Full)";
        QTest::newRow("protected per file") << full << true << true << true << "2024-05-01 14;30;00 (ZIPs , Full)";
    }

    void names() {
        QFETCH(int, kind);
        QFETCH(bool, zip);
        QFETCH(bool, perFile);
        QFETCH(bool, password);
        QFETCH(QString, name);
        TCompression compression;
        compression.Enabled = zip;
        compression.CreateIndividualZipForEachItem = perFile;
        compression.ProtectWithPassword = password;
        const QDateTime start(QDate(2024, 5, 1), QTime(14, 30, 0));
        QCOMPARE(RestorePointName(start, TRunKind(kind), compression), name);
        QCOMPARE(RestorePointNeedsPassword(name), zip && password);
        const TZipKind zipKind = !zip ? TZipKind::None : perFile ? TZipKind::ArchivePerFile : TZipKind::OneArchive;
        QCOMPARE(ZipKindOfRestorePoint(name), zipKind);
        QVERIFY(RestorePointName(start, TRunKind::Mirror, compression).isEmpty());
    }

    void markers() {
        TBackupType type = btFull;
        QVERIFY(BackupTypeFromMarker(QStringLiteral("Syncronization)"), type));
        QCOMPARE(type, btSynchronization);
        QVERIFY(!BackupTypeFromMarker(QStringLiteral("2024-05-01 14;30;00 (Full)"), type));
        QCOMPARE(KindMarker(btDifferential), QStringLiteral("Differential)"));
    }

    void everyCopiesRule() {
        // Run 1 is full; runs 2 to 6 are increments; run 7 (five increments after the full) is full.
        TBackupSettings settings; // incremental, every 5 copies
        TRemoteBackupState state;
        QList<TRunKind> kinds;
        QString reason;
        for (int run = 1; run <= 8; ++run) {
            if (state.MainBackupList.isEmpty())
                state.MainBackupList.append(KindMarker(settings.BackupType));
            const TRunChoice choice = ChooseRunKind(settings, state, &Same);
            kinds.append(choice.Kind);
            if (run == 7)
                reason = choice.Reason;
            state.MainBackupList.append(choice.Kind == TRunKind::Full ? QStringLiteral("x (Full)")
                                                                      : QStringLiteral("x (Incremental)"));
        }
        const QList<TRunKind> expected{TRunKind::Full,        TRunKind::Incremental, TRunKind::Incremental,
                                       TRunKind::Incremental, TRunKind::Incremental, TRunKind::Incremental,
                                       TRunKind::Full,        TRunKind::Incremental};
        QCOMPARE(kinds, expected);
        QCOMPARE(reason, QStringLiteral("The number of incremental copies (5) has reached the specified value (5). "
                                        "We need to perform a full backup."));
    }

    void sizeRule_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<qint64>("full");
        QTest::addColumn<qint64>("since");
        QTest::addColumn<bool>("forced");
        QTest::newRow("exactly half") << int(btIncremental) << qint64(1000) << qint64(500) << true;
        QTest::newRow("just below") << int(btIncremental) << qint64(1000) << qint64(499) << false;
        QTest::newRow("no full size") << int(btDifferential) << qint64(0) << qint64(999999) << false;
        QTest::newRow("differential over") << int(btDifferential) << qint64(3) << qint64(2) << true;
        // 64-bit product: 2^60 * 100 would overflow 64 bits; sizes this large do not occur, but
        // the comparison must not silently wrap for realistic terabyte sizes.
        QTest::newRow("terabytes") << int(btIncremental) << qint64(4) * 1024 * 1024 * 1024 * 1024
                                   << qint64(2) * 1024 * 1024 * 1024 * 1024 << true;
    }

    void sizeRule() {
        QFETCH(int, type);
        QFETCH(qint64, full);
        QFETCH(qint64, since);
        QFETCH(bool, forced);
        TBackupSettings settings;
        settings.BackupType = TBackupType(type);
        settings.PerformFullBackup_Condition = bcSumExceedsPercentOfFullBackup;
        TRemoteBackupState state;
        state.MainBackupList = {KindMarker(settings.BackupType), QStringLiteral("a (Full)"), QStringLiteral("b")};
        state.SizeOfLastFullBackup = full;
        state.SizeOfAllIncrementsOrLastDifferentialCopy = since;
        const TRunChoice choice = ChooseRunKind(settings, state, &Same);
        QCOMPARE(choice.Kind == TRunKind::Full, forced);
        QCOMPARE(!choice.Reason.isEmpty(), forced);
        if (forced && type == btIncremental && full == 1000)
            QCOMPARE(choice.Reason, QStringLiteral("The total size of all increments (0.49 KB) exceeds 50% of the size "
                                                   "of the full backup (0.98 KB). We need to perform a full backup."));
    }

    void firstRunsAndFixedKinds() {
        TBackupSettings settings;
        TRemoteBackupState empty;
        QCOMPARE(ChooseRunKind(settings, empty, &Same).Kind, TRunKind::Full);
        settings.BackupType = btSynchronization;
        QCOMPARE(ChooseRunKind(settings, empty, &Same).Kind, TRunKind::Mirror);
        settings.BackupType = btFull;
        QCOMPARE(ChooseRunKind(settings, empty, &Same).Kind, TRunKind::Full);
    }

    void retention() {
        QStringList list{QStringLiteral("Incremental)"),     QStringLiteral("F1 (Full)"),
                         QStringLiteral("I1 (Incremental)"), QStringLiteral("I2 (Incremental)"),
                         QStringLiteral("F2 (Full)"),        QStringLiteral("I3 (Incremental)")};
        QStringList keepAll = list;
        QVERIFY(ChooseOldRestorePoints(keepAll, 0).isEmpty());
        QCOMPARE(keepAll, list);
        const QStringList removed = ChooseOldRestorePoints(list, 1);
        QCOMPARE(removed, (QStringList{QStringLiteral("I2 (Incremental)"), QStringLiteral("I1 (Incremental)"),
                                       QStringLiteral("F1 (Full)")}));
        QCOMPARE(list, (QStringList{QStringLiteral("Incremental)"), QStringLiteral("F2 (Full)"),
                                    QStringLiteral("I3 (Incremental)")}));
    }

    void formatSize_data() {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0 KB";
        QTest::newRow("small") << qint64(500) << "0.49 KB";
        QTest::newRow("one MB stays KB") << qint64(1048576) << "1024 KB";
        QTest::newRow("just over one MB") << qint64(1048577) << "1 MB";
        QTest::newRow("1.5 GB") << qint64(1610612736) << "1.5 GB";
        QTest::newRow("petabyte in TB") << qint64(1125899906842624) * 2 << "2048 TB";
    }

    void formatSize() {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(FormatSize(bytes), text);
    }

    void pathListIsExactAndIndexed() {
        TPathList list({QStringLiteral("Docs/a.txt"), QStringLiteral("Docs/A.txt"), QStringLiteral("Docs/a.txt")});
        QCOMPARE(list.IndexOf(QStringLiteral("Docs/a.txt")), 0);
        QCOMPARE(list.IndexOf(QStringLiteral("Docs/A.txt")), 1);
        QCOMPARE(list.IndexOf(QStringLiteral("docs/a.txt")), -1);
        list.Append(QStringLiteral("new"));
        QCOMPARE(list.IndexOf(QStringLiteral("new")), 3);
        list.RemoveLast();
        QVERIFY(!list.Contains(QStringLiteral("new")));
        QCOMPARE(list.Size(), 3);
    }

    void listFilesRoundTrip() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("_rf.vll"));
        const QStringList lines{QStringLiteral("Docs/ä b.txt"), QString(), QStringLiteral("x\\y")};
        QVERIFY(SaveListFile(path, lines));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("\xEF\xBB\xBF") + QStringLiteral("Docs/ä b.txt\r\n\r\nx\\y\r\n").toUtf8());
        QStringList back;
        QVERIFY(LoadListFile(path, back));
        QCOMPARE(back, lines);
        QVERIFY(SaveListFile(path, {}));
        QVERIFY(LoadListFile(path, back));
        QVERIFY(back.isEmpty());
        QCOMPARE(QFileInfo(path).size(), 3);
        QVERIFY(!LoadListFile(dir.filePath(QStringLiteral("missing")), back));
    }

    void listFilesKeepEntriesThatBeginWithAMark() {
        // U+FEFF may begin a file name: only the mark of the file itself is dropped.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("_rf.vll"));
        const QString mark(QChar(0xFEFF));
        const QStringList lines{mark + QStringLiteral("first.txt"), QStringLiteral("plain"), mark + mark};
        QVERIFY(SaveListFile(path, lines));
        QStringList back;
        QVERIFY(LoadListFile(path, back));
        QCOMPARE(back, lines);
        // A file found by fuzzing: three marks, the first the file's own.
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray::fromBase64("77u/77u/77u/GgAAAAAAAAAK"));
        file.close();
        QVERIFY(LoadListFile(path, back));
        QCOMPARE(back, QStringList{mark + mark + QChar(0x1A) + QString(7, QChar(0))});
    }

    void fileStampsMatchLocalTime_data() {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<int>("millis");
        QTest::newRow("epoch") << qint64(0) << 0;
        QTest::newRow("winter") << qint64(1700000000) << 123;
        QTest::newRow("summer") << qint64(1720000000) << 999;
        QTest::newRow("before 1970") << qint64(-86400 * 400 - 1) << 5;
    }

    void fileStampsMatchLocalTime() {
        QFETCH(qint64, seconds);
        QFETCH(int, millis);
        TFileTimeStamp stamps;
        const timespec at{time_t(seconds), long(millis) * 1000000 + 999};
        const QDateTime expected = QDateTime::fromMSecsSinceEpoch(seconds * 1000 + millis);
        QCOMPARE(stamps.Format(at), expected.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss:zzz")));
    }
};

QTEST_GUILESS_MAIN(TestRestorePoints)
#include "tst_restorepoints.moc"
