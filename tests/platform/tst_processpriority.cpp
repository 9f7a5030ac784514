// Priority classes become nice values for every thread of the process.

#include "platform/TLinuxProcessPriority.h"

#include <QProcess>
#include <QTest>

#include <sys/resource.h>

class TestProcessPriority : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void niceValues_data() {
        QTest::addColumn<int>("priorityClass");
        QTest::addColumn<int>("nice"); // 99: unchanged
        QTest::addRow("idle") << 0 << 19;
        QTest::addRow("normal") << 1 << 0;
        QTest::addRow("high") << 2 << -5;
        QTest::addRow("real-time") << 3 << -10;
        QTest::addRow("above the range") << 4 << 99;
        QTest::addRow("negative") << -1 << 99;
    }
    void niceValues() {
        QFETCH(int, priorityClass);
        QFETCH(int, nice);
        const std::optional<int> value = TLinuxProcessPriority::NiceValueFor(priorityClass);
        QCOMPARE(value.value_or(99), nice);
    }

    // In a real process: the idle class reaches the threads that exist and those started later;
    // an unknown class changes nothing.
    void appliesToWholeProcess_data() {
        QTest::addColumn<QString>("priorityClass");
        QTest::addColumn<QString>("expected"); // "inherited": the test's own nice value
        QTest::addRow("idle") << "0"
                              << "19";
        QTest::addRow("unknown class") << "9"
                                       << "inherited";
    }
    void appliesToWholeProcess() {
        QFETCH(QString, priorityClass);
        QFETCH(QString, expected);
        if (expected == QStringLiteral("inherited"))
            expected = QString::number(::getpriority(PRIO_PROCESS, 0));
        QProcess probe;
        probe.start(QStringLiteral(VAULTORA_BINARY_DIR "/bin/vaultora-priority-probe"), {priorityClass});
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitCode(), 0);
        QCOMPARE(QString::fromLatin1(probe.readAllStandardOutput()).trimmed(),
                 expected + u' ' + expected + u' ' + expected);
    }
};

QTEST_GUILESS_MAIN(TestProcessPriority)
#include "tst_processpriority.moc"
