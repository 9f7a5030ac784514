// The compact forms a backup run keeps its lists in, and the piecewise writer of enciphered files:
// each must give exactly what the plain forms give.

#include "jobs/files/TCurrentFileList.h"
#include "jobs/files/TJob_FilesAndFolders.h"
#include "jobs/files/TStringIndex.h"
#include "jobs/files/TStringTable.h"
#include "jobs/files/TTreeScan.h"

#include "core/format/FileCipher.h"
#include "core/format/TEncipheredFileWriter.h"
#include "core/format/TPrimitiveReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <span>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// Text-like bytes with runs, as a stored job file has.
QByteArray SampleBytes(qsizetype size, uint32_t seed) {
    QByteArray data(size, Qt::Uninitialized);
    uint32_t state = seed;
    for (qsizetype i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        data[i] = (i % 2 != 0 && (state >> 16) % 8 != 0) ? char(0) : char(0x20 + (state >> 24) % 90);
    }
    return data;
}

// The file bytes as the cipher defines them, one byte after another.
QByteArray SealedOneByOne(const QByteArray& plain) {
    QByteArray sealed(plain.size(), Qt::Uninitialized);
    EncipherBuffer({reinterpret_cast<const uint8_t*>(plain.constData()), size_t(plain.size())},
                   {reinterpret_cast<uint8_t*>(sealed.data()), size_t(sealed.size())});
    InvertStreamBytes({reinterpret_cast<uint8_t*>(sealed.data()), size_t(sealed.size())});
    return sealed;
}

TStringSequence Sequence(const QStringList& list) {
    return {list.size(), [&list](qsizetype i) { return QStringView(list.at(i)); }};
}

} // namespace

class TestStoredLists : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void piecewiseWriter_data() {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<qsizetype>("step");
        QTest::newRow("empty") << qsizetype(0) << qsizetype(1);
        QTest::newRow("shorter than the key sync") << qsizetype(4) << qsizetype(3);
        QTest::newRow("below the two-thread size") << qsizetype((1 << 20) - 1) << qsizetype(65537);
        QTest::newRow("two threads, one piece") << qsizetype((1 << 20) + 7) << qsizetype(1 << 20);
        QTest::newRow("many pieces, odd appends") << qsizetype((5 << 20) + 13) << qsizetype(999983);
    }

    void piecewiseWriter() {
        QFETCH(qsizetype, size);
        QFETCH(qsizetype, step);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray plain = SampleBytes(size, uint32_t(size));
        const QString whole = dir.filePath(QStringLiteral("whole.bin"));
        const QString pieces = dir.filePath(QStringLiteral("pieces.bin"));
        QVERIFY(WriteEncipheredFile(whole, plain));
        TEncipheredFileWriter writer(pieces, 0600);
        for (qsizetype at = 0; at < size; at += step)
            writer.Append(plain.constData() + at, std::min(step, size - at));
        QVERIFY(writer.Commit());
        const QByteArray expected = SealedOneByOne(plain);
        QCOMPARE(ReadAll(whole), expected);
        QCOMPARE(ReadAll(pieces), expected);
        QCOMPARE(QFile(pieces).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
                 QFileDevice::Permissions());
        QByteArray read;
        QCOMPARE(ReadEncipheredFile(pieces, read), TEncipheredReadResult::Ok);
        QCOMPARE(read, plain);
    }

    void failedWriterReports() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        TEncipheredFileWriter writer(dir.filePath(QStringLiteral("no/such/folder/file.bin")), 0600);
        writer.Append(QByteArray("data"));
        QString error;
        QVERIFY(!writer.Commit(&error));
        QVERIFY(!error.isEmpty());
    }

    void compactStoredFile() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        TJob_FilesAndFolders job(QStringLiteral("Lists"));
        job.Settings.Sources.List = {QStringLiteral("/home/user/Documents/*")};
        TRemoteBackupState state;
        state.MainBackupList = {QStringLiteral("Incremental)"), QStringLiteral("2024-05-01 14;30;00 (Full)")};
        state.PreviousLocalFilesList = {QStringLiteral("Docs/a.txt"), QStringLiteral("Docs/ü ö.txt"), QString(),
                                        QStringLiteral("Docs/a.txt"), QStringLiteral("Docs/A.txt")};
        state.PreviousLocalFilesTimeList = {QStringLiteral("2024-05-01 14:30:00:000"),
                                            QStringLiteral("2024-05-01 14:30:01:001"), QStringLiteral("x")};
        state.PreviousLocalDirsList = {QStringLiteral("Docs")};
        state.SizeOfLastFullBackup = 123;
        state.SizeOfAllIncrementsOrLastDifferentialCopy = 45;
        const QString lists = dir.filePath(QStringLiteral("lists.vlj"));
        const QString compact = dir.filePath(QStringLiteral("compact.vlj"));
        QVERIFY(job.SaveRemoteJobFile(lists, state));
        TRemoteBackupState small = state;
        small.PreviousLocalFilesList.clear();
        small.PreviousLocalFilesTimeList.clear();
        QVERIFY(job.SaveRemoteJobFile(compact, small, Sequence(state.PreviousLocalFilesList),
                                      Sequence(state.PreviousLocalFilesTimeList)));
        QCOMPARE(ReadAll(compact), ReadAll(lists));

        TRemoteBackupState loaded;
        TStringTable files, times;
        QVERIFY(job.LoadRemoteJobFileLists(compact, loaded, files, times));
        QCOMPARE(files.ToList(), state.PreviousLocalFilesList);
        QCOMPARE(times.ToList(), state.PreviousLocalFilesTimeList);
        QCOMPARE(loaded.MainBackupList, state.MainBackupList);
        QCOMPARE(loaded.PreviousLocalDirsList, state.PreviousLocalDirsList);
        QCOMPARE(loaded.SizeOfLastFullBackup, int64_t(123));
        QCOMPARE(loaded.SizeOfAllIncrementsOrLastDifferentialCopy, int64_t(45));
        QVERIFY(loaded.PreviousLocalFilesList.isEmpty());

        // A list that runs past the end of the data is refused as the plain reader refuses it.
        QByteArray plain;
        QCOMPARE(ReadEncipheredFile(compact, plain), TEncipheredReadResult::Ok);
        const QString cut = dir.filePath(QStringLiteral("cut.vlj"));
        QVERIFY(WriteEncipheredFile(cut, plain.left(120)));
        QVERIFY_THROWS_EXCEPTION(TDecodeError, job.LoadRemoteJobFileLists(cut, loaded, files, times));
    }

    void indexAndCurrentList() {
        TStringTable previous;
        for (const char16_t* text : {u"a", u"b", u"a", u"A", u""})
            previous.Append(QStringView(text));
        TStringTable stamps;
        for (const char16_t* text : {u"1", u"2", u"3"})
            stamps.Append(QStringView(text));
        TStringIndex index;
        index.Build(previous);
        QCOMPARE(index.IndexOf(u"a"), qsizetype(0));
        QCOMPARE(index.IndexOf(u"A"), qsizetype(3));
        QCOMPARE(index.IndexOf(u""), qsizetype(4));
        QCOMPARE(index.IndexOf(u"c"), qsizetype(-1));
        QVERIFY(index.HasDuplicates());

        TCurrentFileList current;
        current.SetPrevious(&previous, &stamps);
        current.AppendPrevious(1);
        current.Append(u"new", u"9");
        current.SetLastStampToPrevious(0);
        current.Append(u"gone", u"8");
        current.RemoveLast();
        current.Append(u"last", u"7");
        QCOMPARE(current.Size(), qsizetype(3));
        QCOMPARE(current.Path(0).toString(), QStringLiteral("b"));
        QCOMPARE(current.Stamp(0).toString(), QStringLiteral("2"));
        QCOMPARE(current.Path(1).toString(), QStringLiteral("new"));
        QCOMPARE(current.Stamp(1).toString(), QStringLiteral("1"));
        QCOMPARE(current.Path(2).toString(), QStringLiteral("last"));
        QCOMPARE(current.Stamp(2).toString(), QStringLiteral("7"));
    }

    void scanReadsWhatTheWalkWouldRead() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QDir root(dir.path());
        QVERIFY(root.mkpath(QStringLiteral("keep/deeper")));
        QVERIFY(root.mkpath(QStringLiteral("skip/below")));
        QVERIFY(root.mkpath(QStringLiteral(".hidden")));
        for (const QString& name : {QStringLiteral("keep/one.txt"), QStringLiteral("keep/deeper/two.txt"),
                                    QStringLiteral("skip/below/three.txt"), QStringLiteral("four.txt")}) {
            QFile file(root.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("x");
        }
        QVERIFY(QFile::link(QStringLiteral("keep"), root.filePath(QStringLiteral("link"))));
        TTreeScan scan([](const QString& folder, const QString& name, bool hidden) {
            Q_UNUSED(folder);
            return !hidden && name != QStringLiteral("skip");
        });
        const int top = scan.AddRoot(dir.path());
        const int missing = scan.AddRoot(root.filePath(QStringLiteral("absent")));
        scan.Start();
        QVERIFY(scan.Wait(top));
        QVERIFY(scan.Wait(missing));
        QCOMPARE(scan.Folder(missing).OpenError, ENOENT);
        const TTreeScan::TFolder& folder = scan.Folder(top);
        QCOMPARE(folder.OpenError, 0);
        QMap<QString, const TTreeScan::TEntry*> entries;
        for (const TTreeScan::TEntry& entry : folder.Entries)
            entries.insert(QString::fromUtf8(folder.NameOf(entry)), &entry);
        QCOMPARE(entries.keys(), (QStringList{QStringLiteral(".hidden"), QStringLiteral("four.txt"),
                                              QStringLiteral("keep"), QStringLiteral("link"), QStringLiteral("skip")}));
        QCOMPARE(entries[QStringLiteral("four.txt")]->Type, TTreeScan::TEntryType::File);
        QCOMPARE(entries[QStringLiteral("link")]->Type, TTreeScan::TEntryType::SymbolicLink);
        QVERIFY(entries[QStringLiteral(".hidden")]->Hidden);
        QCOMPARE(entries[QStringLiteral(".hidden")]->Child, -1);
        QCOMPARE(entries[QStringLiteral("skip")]->Child, -1);
        const int keep = entries[QStringLiteral("keep")]->Child;
        QVERIFY(keep >= 0);
        QVERIFY(scan.Wait(keep));
        QCOMPARE(scan.Folder(keep).Path, root.filePath(QStringLiteral("keep/")));
        QCOMPARE(scan.Folder(keep).Entries.size(), size_t(2));
        const QFileInfo info(root.filePath(QStringLiteral("four.txt")));
        QCOMPARE(qint64(entries[QStringLiteral("four.txt")]->ModifiedSeconds), info.lastModified().toSecsSinceEpoch());
        scan.Stop();
    }
};

QTEST_GUILESS_MAIN(TestStoredLists)
#include "tst_StoredLists.moc"
