// Hostile archives: names that climb out of the output folder, symbolic links that would
// carry later entries outside it, overlapping entries, truncated or absurd central
// directories, data that lies about its size or checksum. Each is refused, and nothing is
// ever written outside the output folder.

#include "ZipTestSupport.h"

#include "archive/TZipReader.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <zlib.h>

using namespace ZipTest;

namespace {

struct TRawEntry {
    QByteArray Name;
    QByteArray Data;         // as stored (already deflated when Method is 8)
    uint32_t Mode = 0100644; // st_mode; links are 0120777 with the target as data
    uint16_t Method = 0;
    int64_t Size = -1;      // uncompressed size; -1: the data's length
    int64_t Crc = -1;       // -1: the data's CRC
    QByteArray CentralName; // differs from Name when set
};

void U16(QByteArray& out, uint32_t v) {
    out.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
}
void U32(QByteArray& out, uint32_t v) {
    U16(out, v & 0xffff);
    U16(out, v >> 16);
}
void U64(QByteArray& out, uint64_t v) {
    U32(out, uint32_t(v));
    U32(out, uint32_t(v >> 32));
}

uint32_t Crc(const QByteArray& data) {
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
}

QByteArray Deflate(const QByteArray& data) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(int(stream.total_out));
    deflateEnd(&stream);
    return out;
}

struct TLayout {
    QByteArray Bytes;
    QList<int> LocalOffsets;
    int CentralOffset = 0;
    int CentralSize = 0;
};

// A plain (no Zip64) archive of stored or deflated entries made by Unix.
TLayout Build(const QList<TRawEntry>& entries) {
    TLayout layout;
    QByteArray central;
    for (const TRawEntry& entry : entries) {
        const uint32_t crc = entry.Crc >= 0 ? uint32_t(entry.Crc) : Crc(entry.Data);
        const uint32_t size = uint32_t(entry.Size >= 0 ? entry.Size : entry.Data.size());
        layout.LocalOffsets.append(int(layout.Bytes.size()));
        QByteArray& out = layout.Bytes;
        U32(out, 0x04034b50);
        U16(out, 20);
        U16(out, 0);
        U16(out, entry.Method);
        U32(out, 0x58210000); // 2024-01-01 00:00
        U32(out, crc);
        U32(out, uint32_t(entry.Data.size()));
        U32(out, size);
        U16(out, uint16_t(entry.Name.size()));
        U16(out, 0);
        out.append(entry.Name).append(entry.Data);
        const QByteArray centralName = entry.CentralName.isEmpty() ? entry.Name : entry.CentralName;
        U32(central, 0x02014b50);
        U16(central, 0x0314);
        U16(central, 20);
        U16(central, 0);
        U16(central, entry.Method);
        U32(central, 0x58210000);
        U32(central, crc);
        U32(central, uint32_t(entry.Data.size()));
        U32(central, size);
        U16(central, uint16_t(centralName.size()));
        U32(central, 0);
        U32(central, 0);
        U32(central, entry.Mode << 16);
        U32(central, uint32_t(layout.LocalOffsets.last()));
        central.append(centralName);
    }
    layout.CentralOffset = int(layout.Bytes.size());
    layout.CentralSize = int(central.size());
    layout.Bytes.append(central);
    U32(layout.Bytes, 0x06054b50);
    U32(layout.Bytes, 0);
    U16(layout.Bytes, uint32_t(entries.size()));
    U16(layout.Bytes, uint32_t(entries.size()));
    U32(layout.Bytes, uint32_t(central.size()));
    U32(layout.Bytes, uint32_t(layout.CentralOffset));
    U16(layout.Bytes, 0);
    return layout;
}

TRawEntry File(const QByteArray& name, const QByteArray& data = QByteArrayLiteral("payload")) {
    TRawEntry entry;
    entry.Name = name;
    entry.Data = data;
    return entry;
}

TRawEntry Link(const QByteArray& name, const QByteArray& target) {
    TRawEntry entry;
    entry.Name = name;
    entry.Data = target;
    entry.Mode = 0120777;
    return entry;
}

} // namespace

Q_DECLARE_METATYPE(QList<TRawEntry>)

class TestZipHostile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void refused_data();
    void refused();
    void linkInPlaceOfFileIsReplacedNotFollowed();
    void linksComeBackWithTheirTargets();
    void singleEntryExtractionRefusesClimbing();
};

void TestZipHostile::refused_data() {
    // OUTSIDE in names and link targets stands for the absolute path of a folder next to the
    // output folder; PRELINK asks for a symbolic link "pre" to it inside the output folder
    // before extraction.
    // Rows give either entries (built in the test, after OUTSIDE is filled in) or finished bytes.
    QTest::addColumn<QList<TRawEntry>>("entries");
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<bool>("openFails");
    QTest::addColumn<bool>("preLink");
    QTest::addColumn<int>("code");

    QTest::newRow("parent folder") << QList<TRawEntry>() << Build({File("../escape.txt")}).Bytes << false << false
                                   << int(zeUnsafeEntry);
    QTest::newRow("parent folder after a folder")
        << QList<TRawEntry>() << Build({File("ok.txt"), File("a/../../escape.txt")}).Bytes << false << false
        << int(zeUnsafeEntry);
    QTest::newRow("absolute path") << QList<TRawEntry>{File("OUTSIDE/escape.txt")} << QByteArray() << false << false
                                   << int(zeUnsafeEntry);
    QTest::newRow("NUL in name") << QList<TRawEntry>() << Build({File(QByteArray("a\0/../../escape.txt", 19))}).Bytes
                                 << false << false << int(zeUnsafeEntry);
    QTest::newRow("link climbing out, then through it")
        << QList<TRawEntry>() << Build({Link("link", "../outside"), File("link/escape.txt")}).Bytes << false << false
        << int(zeUnsafeEntry);
    QTest::newRow("link to an absolute path, then through it")
        << QList<TRawEntry>{Link("link", "OUTSIDE"), File("link/escape.txt")} << QByteArray() << false << false
        << int(zeUnsafeEntry);
    QTest::newRow("link climbing after a name")
        << QList<TRawEntry>() << Build({Link("dir/link", "x/../../../outside"), File("dir/link/escape.txt")}).Bytes
        << false << false << int(zeUnsafeEntry);
    QTest::newRow("link inside, then through it")
        << QList<TRawEntry>() << Build({File("real/keep.txt"), Link("link", "real"), File("link/escape.txt")}).Bytes
        << false << false << int(zeUnsafeEntry);
    QTest::newRow("existing link in the output folder")
        << QList<TRawEntry>() << Build({File("pre/escape.txt")}).Bytes << false << true << int(zeUnsafeEntry);

    const TLayout two = Build({File("a.txt", QByteArray(100, 'a')), File("b.txt", QByteArray(100, 'b'))});
    QByteArray overlapping = two.Bytes;
    // The second central record points at the first entry's local header.
    const int secondCentral = two.CentralOffset + 46 + 5;
    overlapping[secondCentral + 42] = 0;
    overlapping[secondCentral + 43] = 0;
    QTest::newRow("overlapping entries") << QList<TRawEntry>() << overlapping << true << false << int(zeDamagedArchive);
    QByteArray differentNames = Build({File("a.txt")}).Bytes;
    differentNames.replace(int(differentNames.lastIndexOf("a.txt")), 5, "b.txt");
    QTest::newRow("local and central names differ")
        << QList<TRawEntry>() << differentNames << true << false << int(zeDamagedArchive);

    QByteArray truncated = two.Bytes.left(two.CentralOffset + 60) + two.Bytes.right(22);
    QTest::newRow("truncated central directory")
        << QList<TRawEntry>() << truncated << true << false << int(zeDamagedArchive);
    QByteArray manyEntries = two.Bytes;
    manyEntries[manyEntries.size() - 12] = char(0xff);
    manyEntries[manyEntries.size() - 11] = char(0xff);
    manyEntries[manyEntries.size() - 14] = char(0xff);
    manyEntries[manyEntries.size() - 13] = char(0xff);
    QTest::newRow("absurd entry count") << QList<TRawEntry>() << manyEntries << true << false << int(zeDamagedArchive);

    // Zip64 end record claiming 2^60 entries in a 100-byte central directory.
    QByteArray zip64 = two.Bytes.left(two.Bytes.size() - 22);
    const int recordAt = int(zip64.size());
    U32(zip64, 0x06064b50);
    U64(zip64, 44);
    U16(zip64, 0x0314);
    U16(zip64, 45);
    U64(zip64, 0);
    U64(zip64, 1ull << 60);
    U64(zip64, 1ull << 60);
    U64(zip64, uint64_t(two.CentralSize));
    U64(zip64, uint64_t(two.CentralOffset));
    U32(zip64, 0x07064b50);
    U32(zip64, 0);
    U64(zip64, uint64_t(recordAt));
    U32(zip64, 1);
    zip64.append(two.Bytes.right(22));
    QTest::newRow("absurd Zip64 entry count") << QList<TRawEntry>() << zip64 << true << false << int(zeDamagedArchive);

    TRawEntry huge = File("huge.txt");
    QByteArray hugeArchive = Build({huge}).Bytes;
    // Compressed size in the central record: far beyond the file.
    const int hugeCentral = int(hugeArchive.lastIndexOf("PK\x01\x02"));
    hugeArchive[hugeCentral + 23] = 0x7f;
    QTest::newRow("entry larger than the archive")
        << QList<TRawEntry>() << hugeArchive << true << false << int(zeDamagedArchive);

    TRawEntry bomb = File("bomb.txt", Deflate(QByteArray(1 << 20, '\0')));
    bomb.Method = 8;
    bomb.Size = 100;
    bomb.Crc = Crc(QByteArray(100, '\0'));
    QTest::newRow("inflates beyond its recorded size")
        << QList<TRawEntry>() << Build({bomb}).Bytes << false << false << int(zeDamagedArchive);
    TRawEntry wrongCrc = File("crc.txt", QByteArrayLiteral("some content"));
    wrongCrc.Crc = 12345;
    QTest::newRow("checksum mismatch") << QList<TRawEntry>() << Build({wrongCrc}).Bytes << false << false
                                       << int(zeIntegrityCheckFailed);
    TRawEntry badData = File("bad.txt", QByteArrayLiteral("\xff\xff\xff\xff not deflate"));
    badData.Method = 8;
    badData.Size = 50;
    QTest::newRow("bad compressed data") << QList<TRawEntry>() << Build({badData}).Bytes << false << false
                                         << int(zeDamagedArchive);
}

void TestZipHostile::refused() {
    QFETCH(QList<TRawEntry>, entries);
    QFETCH(QByteArray, archive);
    QFETCH(bool, openFails);
    QFETCH(bool, preLink);
    QFETCH(int, code);
    QTemporaryDir sandbox;
    const QString output = sandbox.filePath(QStringLiteral("out"));
    const QString outside = sandbox.filePath(QStringLiteral("outside"));
    WriteFile(outside + QStringLiteral("/keep.txt"), QByteArrayLiteral("untouched"));
    QVERIFY(QDir().mkpath(output));
    if (preLink)
        QVERIFY(QFile::link(outside, output + QStringLiteral("/pre")));
    if (!entries.isEmpty()) {
        for (TRawEntry& entry : entries) {
            entry.Name.replace("OUTSIDE", QFile::encodeName(outside));
            entry.Data.replace("OUTSIDE", QFile::encodeName(outside));
        }
        archive = Build(entries).Bytes;
    }
    const QString path = sandbox.filePath(QStringLiteral("hostile.zip"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(archive);
    file.close();

    TZipReader reader;
    const bool opened = reader.Open(path);
    QCOMPARE(!opened, openFails);
    if (opened)
        QVERIFY(!reader.ExtractAll(output));
    QVERIFY2(int(reader.LastError().Code) == code, qPrintable(reader.LastError().Text()));

    // Nothing landed outside the output folder, and no half-written file stayed inside it.
    QDirIterator it(sandbox.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString found = it.next();
        QVERIFY2(!found.endsWith(QStringLiteral("escape.txt")), qPrintable(found));
        QVERIFY2(!it.fileName().startsWith(QStringLiteral(".vaultora-")), qPrintable(found));
        QVERIFY2(!found.endsWith(QStringLiteral("bomb.txt")) && !found.endsWith(QStringLiteral("crc.txt")),
                 qPrintable(found));
    }
    QCOMPARE(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{QStringLiteral("keep.txt")});
    QFile keep(outside + QStringLiteral("/keep.txt"));
    QVERIFY(keep.open(QIODevice::ReadOnly));
    QCOMPARE(keep.readAll(), QByteArrayLiteral("untouched"));
}

void TestZipHostile::linksComeBackWithTheirTargets() {
    // A backed-up home folder holds links to anywhere; they come back as links, and nothing is
    // written through them.
    QTemporaryDir sandbox;
    const QString output = sandbox.filePath(QStringLiteral("out"));
    const QString outside = sandbox.filePath(QStringLiteral("outside"));
    WriteFile(outside + QStringLiteral("/keep.txt"), QByteArrayLiteral("untouched"));
    QVERIFY(QDir().mkpath(output));
    const QByteArray absolute = QFile::encodeName(outside);
    const QString path = sandbox.filePath(QStringLiteral("links.zip"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(Build({Link("abs", absolute), Link("dir/rel", "../../outside/keep.txt"), File("dir/plain.txt")}).Bytes);
    file.close();
    TZipReader reader;
    QVERIFY(reader.Open(path));
    QVERIFY2(reader.ExtractAll(output), qPrintable(reader.LastError().Text()));
    QCOMPARE(QFile::symLinkTarget(output + QStringLiteral("/abs")), outside);
    QCOMPARE(QFileInfo(output + QStringLiteral("/dir/rel")).isSymLink(), true);
    QCOMPARE(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{QStringLiteral("keep.txt")});
}

void TestZipHostile::linkInPlaceOfFileIsReplacedNotFollowed() {
    QTemporaryDir sandbox;
    const QString output = sandbox.filePath(QStringLiteral("out"));
    const QString victim = sandbox.filePath(QStringLiteral("victim.txt"));
    WriteFile(victim, QByteArrayLiteral("untouched"));
    QVERIFY(QDir().mkpath(output));
    QVERIFY(QFile::link(victim, output + QStringLiteral("/file.txt")));
    const QString path = sandbox.filePath(QStringLiteral("a.zip"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(Build({File("file.txt", QByteArrayLiteral("restored"))}).Bytes);
    file.close();
    TZipReader reader;
    QVERIFY(reader.Open(path));
    QVERIFY2(reader.ExtractAll(output), qPrintable(reader.LastError().Text()));
    const auto tree = ReadTree(output);
    QVERIFY(S_ISREG(tree.value(QStringLiteral("file.txt")).Mode));
    QCOMPARE(tree.value(QStringLiteral("file.txt")).Content, QByteArrayLiteral("restored"));
    QFile check(victim);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArrayLiteral("untouched"));
}

void TestZipHostile::singleEntryExtractionRefusesClimbing() {
    QTemporaryDir sandbox;
    const QString path = sandbox.filePath(QStringLiteral("a.zip"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(Build({File("../escape.txt"), File("fine.txt")}).Bytes);
    file.close();
    TZipReader reader;
    QVERIFY(reader.Open(path));
    const QString output = sandbox.filePath(QStringLiteral("out"));
    QVERIFY(!reader.ExtractEntry(QStringLiteral("../escape.txt"), output));
    QCOMPARE(reader.LastError().Code, zeUnsafeEntry);
    QVERIFY(!QFile::exists(sandbox.filePath(QStringLiteral("escape.txt"))));
    QVERIFY(reader.ExtractEntry(QStringLiteral("fine.txt"), output));
    QVERIFY(QFile::exists(output + QStringLiteral("/fine.txt")));
}

QTEST_GUILESS_MAIN(TestZipHostile)
#include "tst_ZipHostile.moc"
