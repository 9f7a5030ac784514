// A file over 4 GiB: its sizes only fit the Zip64 fields. The source is sparse (cheap to make
// and to read) with markers at both ends; 7-Zip and our reader check the whole entry's CRC.

#include "ZipTestSupport.h"

#include "archive/TZipReader.h"
#include "archive/TZipWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace ZipTest;

class TestZipLarge : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fileOver4GiB();
};

void TestZipLarge::fileOver4GiB() {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("huge.img"));
    const int64_t size = (4ll << 30) + 65536 + 7;
    {
        const int fd = ::open(QFile::encodeName(source).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(ftruncate(fd, size), 0);
        QCOMPARE(pwrite(fd, "start", 5, 0), 5);
        QCOMPARE(pwrite(fd, "past four gigabytes", 19, (4ll << 30) + 100), 19);
        ::close(fd);
    }
    TZipWriterSettings settings;
    settings.Level = TZipLevel::Fastest;
    TZipWriter writer(settings);
    const QString archive = dir.filePath(QStringLiteral("huge.zip"));
    QVERIFY(writer.Create(archive));
    QCOMPARE(writer.AddFile(source), TZipAddResult::Added);
    QVERIFY(writer.AddData(QStringLiteral("after.txt"), QByteArrayLiteral("after"), 1600000000LL * 1000000000LL));
    QVERIFY(writer.Close());

    TZipReader reader;
    QVERIFY(reader.Open(archive));
    QCOMPARE(int(reader.Entries().size()), 2);
    QCOMPARE(reader.Entries().at(0).Size, uint64_t(size));
    QVERIFY2(reader.TestEntry(0), qPrintable(reader.LastError().Text()));
    QByteArray after;
    QVERIFY(reader.ReadEntry(1, &after, 100));
    QCOMPARE(after, QByteArrayLiteral("after"));

    const TToolResult test = Run(QStringLiteral("7zz"), {QStringLiteral("t"), archive});
    QVERIFY2(test.ExitCode == 0 && test.Output.contains("Everything is Ok"), test.Output.constData());
    const TToolResult list = Run(QStringLiteral("bsdtar"), {QStringLiteral("-tvf"), archive});
    QVERIFY2(list.ExitCode == 0 && list.Output.contains(QByteArray::number(size)), list.Output.constData());
}

QTEST_GUILESS_MAIN(TestZipLarge)
#include "tst_ZipLarge.moc"
