#include "net/FtpListing.h"

#include <QTest>

class tst_ftplisting : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void listLines_data();
    void listLines();
    void mlsdLines_data();
    void mlsdLines();
    void unusableNamesAreDropped();
    void nameListCutsPaths();
};

namespace {

const QDateTime Now(QDate(2024, 6, 15), QTime(12, 0), Qt::UTC);

QDateTime Utc(int y, int m, int d, int h, int mi, int s = 0) {
    return QDateTime(QDate(y, m, d), QTime(h, mi, s), Qt::UTC);
}

} // namespace

void tst_ftplisting::listLines_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("link");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QDateTime>("modified");

    QTest::newRow("unix file") << QByteArray("-rw-r--r--    1 1000     1000         1234 Jan 02 03:04 a.txt") << "a.txt"
                               << false << false << qint64(1234) << Utc(2024, 1, 2, 3, 4);
    QTest::newRow("unix folder with blanks")
        << QByteArray("drwxr-xr-x    2 ftp      ftp          4096 Mar 10  2021 my  folder ") << "my  folder " << true
        << false << qint64(-1) << Utc(2021, 3, 10, 0, 0);
    QTest::newRow("unix name with a leading blank") << QByteArray("-rw-r--r-- 1 u g 5 Jun 01 10:00  lead") << " lead"
                                                    << false << false << qint64(5) << Utc(2024, 6, 1, 10, 0);
    QTest::newRow("unix date of last year") << QByteArray("-rw-r--r-- 1 u g 5 Dec 24 10:00 x") << "x" << false << false
                                            << qint64(5) << Utc(2023, 12, 24, 10, 0);
    QTest::newRow("unix without group") << QByteArray("-rw-r--r--   1 owner   77 Feb 29 2020 \"quoted\" 'name'.txt")
                                        << "\"quoted\" 'name'.txt" << false << false << qint64(77)
                                        << Utc(2020, 2, 29, 0, 0);
    QTest::newRow("unix utf-8") << QByteArray("-rw-r--r-- 1 u g 3 Jun 01 10:00 \xc3\xa9t\xc3\xa9 \xe2\x82\xac.txt")
                                << QStringLiteral("\u00e9t\u00e9 \u20ac.txt") << false << false << qint64(3)
                                << Utc(2024, 6, 1, 10, 0);
    QTest::newRow("unix link") << QByteArray("lrwxrwxrwx 1 u g 6 Jun 01 10:00 my link -> target dir") << "my link"
                               << false << true << qint64(6) << Utc(2024, 6, 1, 10, 0);
    QTest::newRow("unix owner named like a month")
        << QByteArray("-rw-r--r-- 1 may jun 9 Jul 04 08:30 Aug 1 2020") << "Aug 1 2020" << false << false << qint64(9)
        << Utc(2024, 7, 4, 8, 30);
    QTest::newRow("dos folder") << QByteArray("01-02-24  03:04PM       <DIR>          sub folder") << "sub folder"
                                << true << false << qint64(-1) << Utc(2024, 1, 2, 15, 4);
    QTest::newRow("dos file, four-digit year")
        << QByteArray("12-31-1999  12:05AM                 1234 old  file.txt") << "old  file.txt" << false << false
        << qint64(1234) << Utc(1999, 12, 31, 0, 5);
    QTest::newRow("dos 24-hour") << QByteArray("06-15-2024  17:45  99 x y") << "x y" << false << false << qint64(99)
                                 << Utc(2024, 6, 15, 17, 45);
}

void tst_ftplisting::listLines() {
    QFETCH(QByteArray, line);
    QFETCH(QString, name);
    QFETCH(bool, folder);
    QFETCH(bool, link);
    QFETCH(qint64, size);
    QFETCH(QDateTime, modified);

    const QList<TFtpEntry> entries = FtpListing::ParseList("total 12\r\n" + line + "\r\n", Now);

    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].Name, name);
    QCOMPARE(entries[0].IsFolder, folder);
    QCOMPARE(entries[0].IsLink, link);
    QCOMPARE(entries[0].Size, size);
    QCOMPARE(entries[0].Modified, modified);
}

void tst_ftplisting::mlsdLines_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("link");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QDateTime>("modified");
    QTest::newRow("file") << QByteArray("type=file;size=12;modify=20240102030405;perm=r; a \"b\" c.txt")
                          << "a \"b\" c.txt" << false << false << qint64(12) << Utc(2024, 1, 2, 3, 4, 5);
    QTest::newRow("folder, fraction of seconds")
        << QByteArray("Type=DIR;Modify=20240102030405.123;  two blanks") << " two blanks" << true << false << qint64(-1)
        << Utc(2024, 1, 2, 3, 4, 5);
    QTest::newRow("link") << QByteArray("type=OS.unix=slink:/x;size=2; l") << "l" << false << true << qint64(2)
                          << QDateTime();
    QTest::newRow("utf-8, bad time") << QByteArray("type=file;modify=2024x; \xc3\xa9") << QStringLiteral("\u00e9")
                                     << false << false << qint64(-1) << QDateTime();
}

void tst_ftplisting::mlsdLines() {
    QFETCH(QByteArray, line);
    QFETCH(QString, name);
    QFETCH(bool, folder);
    QFETCH(bool, link);
    QFETCH(qint64, size);
    QFETCH(QDateTime, modified);

    const QList<TFtpEntry> entries = FtpListing::ParseMlsd("type=cdir; .\r\ntype=pdir; ..\r\n" + line + "\r\n");

    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].Name, name);
    QCOMPARE(entries[0].IsFolder, folder);
    QCOMPARE(entries[0].IsLink, link);
    QCOMPARE(entries[0].Size, size);
    QCOMPARE(entries[0].Modified, modified);
}

void tst_ftplisting::unusableNamesAreDropped() {
    // A name with a line break would smuggle a second command into a later request.
    const QByteArray list = "-rw-r--r-- 1 u g 1 Jan 01 10:00 evil\rDELE x\n"
                            "-rw-r--r-- 1 u g 1 Jan 01 10:00 a/b\n"
                            "drwxr-xr-x 1 u g 1 Jan 01 10:00 ..\n"
                            "-rw-r--r-- 1 u g 1 Jan 01 10:00 \n"
                            "garbage line\n"
                            "-rw-r--r-- 1 u g 99999999999999999999 Jan 01 10:00 huge\n"
                            "-rw-r--r-- 1 u g 1 Jan 01 10:00 good\n";
    const QList<TFtpEntry> entries = FtpListing::ParseList(list, Now);
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries[0].Name, QStringLiteral("good"));
    QCOMPARE(FtpListing::ParseMlsd(QByteArray("type=file; a\0b\r\ntype=file; ok\r\n", 30)).size(), 1);
    QVERIFY(!FtpListing::IsUsableName(QStringLiteral("a\nb")));
    QVERIFY(FtpListing::IsUsableName(QStringLiteral(" a b ")));
}

void tst_ftplisting::nameListCutsPaths() {
    QCOMPARE(FtpListing::ParseNameList("a b\r\n/x/y/c\r\n.\r\n..\r\n\r\nd\n"),
             (QStringList{QStringLiteral("a b"), QStringLiteral("c"), QStringLiteral("d")}));
}

QTEST_GUILESS_MAIN(tst_ftplisting)
#include "tst_ftplisting.moc"
