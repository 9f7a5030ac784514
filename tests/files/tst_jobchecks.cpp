// The checks a files-and-folders job passes before it is saved.

#include "jobs/files/TFilesJobChecks.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestJobChecks : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void extensionLists_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("normalised");
        QTest::newRow("blanks and case") << "TXT; doc ;" << true << "txt;doc";
        QTest::newRow("leading separator") << ";zip;rar" << true << "zip;rar";
        QTest::newRow("wildcard") << "*.txt" << false << "*.txt";
        QTest::newRow("comma") << "txt,doc" << false << "txt,doc";
        QTest::newRow("slash") << "a/b" << false << "a/b";
        QTest::newRow("empty") << " ; " << false << "";
    }

    void extensionLists() {
        QFETCH(QString, input);
        QFETCH(bool, ok);
        QFETCH(QString, normalised);
        QString message;
        QCOMPARE(TFilesJobChecks::CheckExtensionList(input, &message), ok);
        QCOMPARE(input, normalised);
        QCOMPARE(message.isEmpty(), ok);
        if (!ok)
            QVERIFY(message.contains(QStringLiteral("Example: txt;doc;exe")));
    }

    void duplicateNames_data() {
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QString>("result");
        QTest::newRow("two folders named Docs")
            << QStringList{u"/a/Docs/*"_s, u"/x/y/*"_s, u"/b/docs/*"_s} << "/b/docs\r\n/a/Docs";
        QTest::newRow("folder and file of one name") << QStringList{u"/a/Docs/*"_s, u"/b/Docs"_s} << "";
        QTest::newRow("two files") << QStringList{u"/a/r.txt"_s, u"/b/R.TXT"_s} << "/b/R.TXT\r\n/a/r.txt";
        QTest::newRow("whole volumes have no name") << QStringList{u"/*"_s, u"/*"_s} << "";
    }

    void duplicateNames() {
        QFETCH(QStringList, sources);
        QFETCH(QString, result);
        QCOMPARE(TFilesJobChecks::DuplicatedNamesOfFoldersOrFiles(sources), result);
    }

    void timeTableStaysSortedAndUnique() {
        QStringList table{QStringLiteral("08:00:00"), QStringLiteral("18:00:00")};
        QVERIFY(TFilesJobChecks::AddTimeTableEntry(table, QStringLiteral("12:00:00")));
        QVERIFY(TFilesJobChecks::AddTimeTableEntry(table, QStringLiteral("00:00:01")));
        QVERIFY(TFilesJobChecks::AddTimeTableEntry(table, QStringLiteral("23:59:59")));
        QVERIFY(!TFilesJobChecks::AddTimeTableEntry(table, QStringLiteral("08:00:00")));
        QCOMPARE(table, (QStringList{u"00:00:01"_s, u"08:00:00"_s, u"12:00:00"_s, u"18:00:00"_s, u"23:59:59"_s}));
    }
};

QTEST_GUILESS_MAIN(TestJobChecks)
#include "tst_jobchecks.moc"
