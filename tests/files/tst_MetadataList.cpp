// The metadata list of a restore point: its bytes, names that must round-trip whatever they hold,
// and lines from a destination that may hold anything.

#include "jobs/files/TMetadataList.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

TItemMetadata Item(TItemMetadata::TKind kind, int mode, uint owner, uint group, qint64 seconds, int nanoseconds) {
    TItemMetadata item;
    item.Kind = kind;
    item.Mode = uint16_t(mode);
    item.Owner = owner;
    item.Group = group;
    item.ModifiedSeconds = seconds;
    item.ModifiedNanoseconds = nanoseconds;
    return item;
}

bool SameItem(const TItemMetadata& a, const TItemMetadata& b) {
    return a.Kind == b.Kind && a.Mode == b.Mode && a.Owner == b.Owner && a.Group == b.Group &&
           a.ModifiedSeconds == b.ModifiedSeconds && a.ModifiedNanoseconds == b.ModifiedNanoseconds;
}

TMetadataLine Parsed(const QByteArray& text) {
    TMetadataLine line;
    TMetadataListReader::Parse(text, line);
    return line;
}

} // namespace

class TestMetadataList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writesTheListFormat() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"_rm.vll"_s);
        TMetadataListWriter writer;
        QVERIFY(writer.Open(path));
        writer.Add(u"src"_s, Item(TItemMetadata::TKind::Folder, 0750, 0, 0, -5, 250'000'000));
        writer.Add(u"src/a.txt"_s, Item(TItemMetadata::TKind::File, 04644, 1000, 100, 1'700'000'000, 123'456'789));
        writer.Add(u"src/l"_s, Item(TItemMetadata::TKind::Link, 0777, 4294967294u, 7, 1, 0), "../a b\\c");
        writer.Add(u"src/sock"_s, Item(TItemMetadata::TKind::Unknown, 0600, 0, 0, 1, 0)); // never listed
        QVERIFY(writer.Commit());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("\xEF\xBB\xBF"
                                            "src\td\t0750\t0\t0\t-5.250000000\r\n"
                                            "src/a.txt\tf\t4644\t1000\t100\t1700000000.123456789\r\n"
                                            "src/l\tl\t0777\t4294967294\t7\t1.000000000\t../a b\\\\c\r\n"));
    }

    void anyNameRoundTrips() {
        const QList<QString> names{
            u"src/new\nline"_s,    u"src/tab\there"_s,          u"src/back\\slash\\"_s,   u"src/cr\r"_s,
            u"src/\x01\x1f\x7f"_s, u"src/Ünïcödé ✓ 日本"_s,     u"src/\uFFFD replaced"_s, u"src/ blank ends "_s,
            u"src/.hidden/..."_s,  u"src/\\x41 not an escape"_s};
        const QList<QByteArray> targets{QByteArray("plain"), QByteArray("\xFF\xFE not UTF-8 \xC3"),
                                        QByteArray("a\tb\nc\\d"), QByteArray("/abs/\xE6\x97\xA5")};
        QTemporaryDir dir;
        const QString path = dir.filePath(u"_rm.vll"_s);
        TMetadataListWriter writer;
        QVERIFY(writer.Open(path));
        for (qsizetype i = 0; i < names.size(); ++i)
            writer.Add(names[i], Item(TItemMetadata::TKind::File, 0600, uint(i), uint(i), i, int(i)));
        for (qsizetype i = 0; i < targets.size(); ++i)
            writer.Add(QString(u"src/link"_s + QString::number(i)), Item(TItemMetadata::TKind::Link, 0777, 0, 0, 0, 0),
                       targets[i]);
        QVERIFY(writer.Commit());
        TMetadataList list;
        QVERIFY(list.Load(path));
        QCOMPARE(list.DamagedCount(), 0);
        QCOMPARE(qsizetype(list.Entries().size()), names.size() + targets.size());
        for (qsizetype i = 0; i < names.size(); ++i) {
            const TMetadataList::TEntry& entry = list.Entries()[size_t(i)];
            QCOMPARE(entry.Path, names[i]);
            QVERIFY(SameItem(entry.Item, Item(TItemMetadata::TKind::File, 0600, uint(i), uint(i), i, int(i))));
        }
        for (qsizetype i = 0; i < targets.size(); ++i)
            QCOMPARE(list.Entries()[size_t(names.size() + i)].LinkTarget, targets[i]);
        // One item per line: no name breaks a line.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count("\r\n"), names.size() + targets.size());
    }

    void damagedLinesAreRefused_data() {
        QTest::addColumn<QByteArray>("line");
        const QByteArray rest = "\tf\t0644\t0\t0\t1.000000000";
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("empty path") << rest;
        QTest::newRow("dot dot") << ".." + rest;
        QTest::newRow("dot") << "." + rest;
        QTest::newRow("climbing") << "src/../../x" + rest;
        QTest::newRow("ends in dot dot") << "src/.." + rest;
        QTest::newRow("absolute") << "/etc/passwd" + rest;
        QTest::newRow("empty component") << "src//x" + rest;
        QTest::newRow("trailing slash") << "src/" + rest;
        QTest::newRow("escaped slash climbing") << "src\\x2F..\\x2F..\\x2Fx" + rest;
        QTest::newRow("escaped NUL") << "src/a\\x00b" + rest;
        QTest::newRow("raw control character") << "src/a\x01" + rest;
        QTest::newRow("raw DEL") << "src/a\x7f" + rest;
        QTest::newRow("unknown escape") << "src/a\\q" + rest;
        QTest::newRow("cut escape") << "src/a\\" + rest;
        QTest::newRow("short hex escape") << "src/a\\x4" + rest;
        QTest::newRow("bad hex escape") << "src/a\\xZZ" + rest;
        QTest::newRow("path not UTF-8") << "src/\xff" + rest;
        QTest::newRow("escaped path not UTF-8") << "src/\\xFF" + rest;
        QTest::newRow("too few fields") << QByteArray("src/a\tf\t0644\t0\t0");
        QTest::newRow("too many fields") << "src/a" + rest + "\tx";
        QTest::newRow("many tabs") << QByteArray("a\t\t\t\t\t\t\t\t\t\t\t\t");
        QTest::newRow("unknown kind") << QByteArray("src/a\tp\t0644\t0\t0\t1.000000000");
        QTest::newRow("long kind") << QByteArray("src/a\tff\t0644\t0\t0\t1.000000000");
        QTest::newRow("mode not octal") << QByteArray("src/a\tf\t0648\t0\t0\t1.000000000");
        QTest::newRow("mode too long") << QByteArray("src/a\tf\t177777\t0\t0\t1.000000000");
        QTest::newRow("mode too short") << QByteArray("src/a\tf\t644\t0\t0\t1.000000000");
        QTest::newRow("owner huge") << QByteArray("src/a\tf\t0644\t99999999999\t0\t1.000000000");
        QTest::newRow("owner minus one") << QByteArray("src/a\tf\t0644\t4294967295\t0\t1.000000000");
        QTest::newRow("owner negative") << QByteArray("src/a\tf\t0644\t-1\t0\t1.000000000");
        QTest::newRow("owner leading zero") << QByteArray("src/a\tf\t0644\t01\t0\t1.000000000");
        QTest::newRow("owner empty") << QByteArray("src/a\tf\t0644\t\t0\t1.000000000");
        QTest::newRow("group with sign") << QByteArray("src/a\tf\t0644\t0\t+5\t1.000000000");
        QTest::newRow("seconds absurd") << QByteArray("src/a\tf\t0644\t0\t0\t99999999999999999999.000000000");
        QTest::newRow("seconds empty") << QByteArray("src/a\tf\t0644\t0\t0\t.000000000");
        QTest::newRow("minus alone") << QByteArray("src/a\tf\t0644\t0\t0\t-.000000000");
        QTest::newRow("double minus") << QByteArray("src/a\tf\t0644\t0\t0\t--1.000000000");
        QTest::newRow("no fraction") << QByteArray("src/a\tf\t0644\t0\t0\t1");
        QTest::newRow("short fraction") << QByteArray("src/a\tf\t0644\t0\t0\t1.5");
        QTest::newRow("long fraction") << QByteArray("src/a\tf\t0644\t0\t0\t1.0000000000");
        QTest::newRow("fraction not digits") << QByteArray("src/a\tf\t0644\t0\t0\t1.00000000x");
        QTest::newRow("link without target") << QByteArray("src/l\tl\t0777\t0\t0\t1.000000000");
        QTest::newRow("link with empty target") << QByteArray("src/l\tl\t0777\t0\t0\t1.000000000\t");
        QTest::newRow("link target with NUL") << QByteArray("src/l\tl\t0777\t0\t0\t1.000000000\ta\\x00b");
        QTest::newRow("link target too long") << "src/l\tl\t0777\t0\t0\t1.000000000\t" + QByteArray(4096, 'x');
        QTest::newRow("file with target") << "src/a" + rest + "\ttarget";
    }

    void damagedLinesAreRefused() {
        QFETCH(QByteArray, line);
        QVERIFY(Parsed(line).Damaged);
        QVERIFY(Parsed(line + "\r").Damaged);
    }

    void wellFormedLinesAreRead() {
        const TMetadataLine file = Parsed("src/a\\x01\\x7f\\xe6\\x97\\xa5\tf\t7777\t0\t4294967294\t-1.999999999\r");
        QVERIFY(!file.Damaged);
        QCOMPARE(file.Path, QByteArray("src/a\x01\x7f\xe6\x97\xa5"));
        QVERIFY(SameItem(file.Item, Item(TItemMetadata::TKind::File, 07777, 0, 4294967294u, -1, 999'999'999)));
        const TMetadataLine link = Parsed("d/l\tl\t0777\t1\t2\t3.000000004\t\\xFF/x");
        QVERIFY(!link.Damaged);
        QCOMPARE(link.LinkTarget, QByteArray("\xFF/x"));
    }

    void readsLineByLine() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"_rm.vll"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // No byte-order mark, LF ends, a line far too long between two good ones, no end after the last.
        file.write("a\tf\t0644\t0\t0\t1.000000000\n");
        file.write(QByteArray(TMetadataListReader::MaxLineLength + 5, 'x') + "\n");
        file.write("b\td\t0755\t0\t0\t2.000000000");
        file.close();
        TMetadataListReader reader;
        QVERIFY(reader.Open(path));
        TMetadataLine line;
        QVERIFY(reader.Next(line));
        QVERIFY(!line.Damaged);
        QCOMPARE(line.Path, QByteArray("a"));
        QVERIFY(reader.Next(line));
        QVERIFY(line.Damaged);
        QCOMPARE(line.Number, 2);
        QVERIFY(reader.Next(line));
        QVERIFY(!line.Damaged);
        QCOMPARE(line.Path, QByteArray("b"));
        QCOMPARE(line.Number, 3);
        QVERIFY(!reader.Next(line));
        QVERIFY(!reader.ReadFailed());
    }

    void keepsTheFirstDamagedLineNumbers() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"_rm.vll"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\xEF\xBB\xBF");
        for (int i = 0; i < 100; ++i)
            file.write(i == 50 ? "ok\tf\t0644\t0\t0\t1.000000000\r\n" : "..\r\n");
        file.close();
        TMetadataList list;
        QVERIFY(list.Load(path));
        QCOMPARE(list.DamagedCount(), 99);
        QCOMPARE(qsizetype(list.DamagedLines().size()), TMetadataList::MaxDamagedLinesKept);
        QCOMPARE(list.DamagedLines().front(), 1);
        QCOMPARE(qsizetype(list.Entries().size()), 1);
        QCOMPARE(list.Entries().front().Path, u"ok"_s);
    }

    void randomLinesNeverNameAnythingOutside() {
        // Lines made of the format's own pieces, shuffled: whatever is accepted names a path
        // strictly below the restore point.
        const QByteArray pieces[] = {"\t", "\\",   "\\x",  "..", ".",         "/",         "f",     "d",
                                     "l",  "0777", "1",    "-",  "9",         "\\x2F",     "\\x2E", "\\x00",
                                     "\r", "\x01", "\xFF", "a",  "000000000", "4294967295"};
        QRandomGenerator random(20261211);
        for (int round = 0; round < 20000; ++round) {
            QByteArray text;
            const int count = random.bounded(1, 16);
            for (int i = 0; i < count; ++i)
                text += pieces[random.bounded(int(std::size(pieces)))];
            const TMetadataLine line = Parsed(text);
            if (line.Damaged)
                continue;
            const QList<QByteArray> parts = line.Path.split('/');
            QVERIFY2(!line.Path.startsWith('/') && !parts.contains("..") && !parts.contains(".") &&
                         !parts.contains(QByteArray()) && !line.Path.contains('\0'),
                     text.toHex().constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestMetadataList)
#include "tst_MetadataList.moc"
