// The command line of the windowed program.

#include "core/startup/TCommandLine.h"

#include <QTest>

namespace {

QStringList Args(std::initializer_list<const char*> arguments) {
    QStringList list;
    for (const char* argument : arguments)
        list.append(QString::fromUtf8(argument));
    return list;
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parses_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("switches"); // letters of the switches found: b r m a h
        QTest::addColumn<QString>("jobName");
        QTest::addColumn<QString>("dataDirectory");
        QTest::addColumn<bool>("elevated");
        QTest::addRow("nothing") << Args({}) << ""
                                 << ""
                                 << "" << false;
        QTest::addRow("hide") << Args({"/hide"}) << "h"
                              << ""
                              << "" << false;
        QTest::addRow("dash and capitals") << Args({"-HIDE"}) << "h"
                                           << ""
                                           << "" << false;
        QTest::addRow("backup with its job") << Args({"/backup", "Daily Files"}) << "b"
                                             << "Daily Files"
                                             << "" << true;
        QTest::addRow("restore") << Args({"-Restore", "Games"}) << "r"
                                 << "Games"
                                 << "" << true;
        QTest::addRow("remove") << Args({"/REMOVE", "Old"}) << "m"
                                << "Old"
                                << "" << true;
        QTest::addRow("admin alone") << Args({"/admin"}) << "a"
                                     << ""
                                     << "" << true;
        QTest::addRow("admin hidden") << Args({"/admin", "/hide"}) << "ah"
                                      << "/hide"
                                      << "" << true;
        QTest::addRow("switch anywhere") << Args({"Daily", "/backup"}) << "b"
                                         << "/backup"
                                         << "" << true;
        QTest::addRow("job name keeps its case") << Args({"/backup", "dAILY"}) << "b"
                                                 << "dAILY"
                                                 << "" << true;
        QTest::addRow("backup without job") << Args({"/backup"}) << "b"
                                            << ""
                                            << "" << true;
        QTest::addRow("word without prefix") << Args({"backup", "Daily"}) << ""
                                             << "Daily"
                                             << "" << false;
        QTest::addRow("double prefix") << Args({"//hide"}) << ""
                                       << ""
                                       << "" << false;
        QTest::addRow("longer word") << Args({"/hidden"}) << ""
                                     << ""
                                     << "" << false;
        QTest::addRow("other prefix") << Args({"+hide"}) << ""
                                      << ""
                                      << "" << false;
        QTest::addRow("data folder first") << Args({"--data-dir", "/d", "/backup", "Daily"}) << "b"
                                           << "Daily"
                                           << "/d" << true;
        QTest::addRow("data folder between") << Args({"/backup", "--data-dir=/e f", "Daily"}) << "b"
                                             << "Daily"
                                             << "/e f" << true;
        QTest::addRow("job file") << Args({"/home/a/Daily.vlj"}) << ""
                                  << ""
                                  << "" << false;
    }
    void parses() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, switches);
        QFETCH(QString, jobName);
        QFETCH(QString, dataDirectory);
        QFETCH(bool, elevated);
        TCommandLine line;
        QString error;
        QVERIFY2(line.Parse(arguments, &error), qPrintable(error));
        QString found;
        if (line.Backup)
            found += u'b';
        if (line.Restore)
            found += u'r';
        if (line.Remove)
            found += u'm';
        if (line.Admin)
            found += u'a';
        if (line.Hide)
            found += u'h';
        QCOMPARE(found, switches);
        QCOMPARE(line.JobName, jobName);
        QCOMPARE(line.DataDirectory, dataDirectory);
        QCOMPARE(line.IsElevatedInstance(), elevated);
    }

    void refusesDataFolderWithoutValue_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addRow("at the end") << Args({"/hide", "--data-dir"});
        QTest::addRow("empty value") << Args({"--data-dir="});
        QTest::addRow("empty next argument") << Args({"--data-dir", ""});
    }
    void refusesDataFolderWithoutValue() {
        QFETCH(QStringList, arguments);
        TCommandLine line;
        QString error;
        QVERIFY(!line.Parse(arguments, &error));
        QVERIFY(error.contains(QStringLiteral("--data-dir")));
    }

    void jobFileToHandOver_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("handed");
        QTest::addRow("relative file") << Args({"Daily.vlj"}) << ".vlj"
                                       << "/work/here/Daily.vlj";
        QTest::addRow("absolute file") << Args({"/srv/b/Daily.vlj"}) << ".vlj"
                                       << "/srv/b/Daily.vlj";
        QTest::addRow("dots resolved") << Args({"../x/./Daily.vlj"}) << ".vlj"
                                       << "/work/x/Daily.vlj";
        QTest::addRow("other extension shows") << Args({"notes.txt"}) << ".vlj"
                                               << "";
        QTest::addRow("legacy extension") << Args({"Daily.vlk"}) << ".vlk"
                                          << "/work/here/Daily.vlk";
        QTest::addRow("current name, legacy in use") << Args({"Daily.vlj"}) << ".vlk"
                                                     << "";
        QTest::addRow("extension is case-sensitive") << Args({"Daily.VLJ"}) << ".vlj"
                                                     << "";
        QTest::addRow("dot in a folder name") << Args({"a.vlj/Daily"}) << ".vlj"
                                              << "";
        QTest::addRow("second argument is not looked at") << Args({"/hide", "Daily.vlj"}) << ".vlj"
                                                          << "";
        QTest::addRow("no argument") << Args({}) << ".vlj"
                                     << "";
    }
    void jobFileToHandOver() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, extension);
        QFETCH(QString, handed);
        TCommandLine line;
        QVERIFY(line.Parse(arguments));
        QCOMPARE(line.JobFileToHandOver(extension, QStringLiteral("/work/here")), handed);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
