// Two real processes on one data folder: the second hands its request to the first and ends; one
// started with an elevation switch runs anyway; other data folders never meet; a crashed
// instance's socket does not block the next one.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString Probe = QStringLiteral(VAULTORA_BINARY_DIR "/bin/vaultora-instance-probe");
constexpr int WaitMs = 60000; // a bound for slow machines, not a measured time

QStringList Args(std::initializer_list<const char*> arguments) {
    QStringList list;
    for (const char* argument : arguments)
        list.append(QString::fromUtf8(argument));
    return list;
}

// The next line the process prints, or an empty text when it prints none in time.
QString NextLine(QProcess& process) {
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(WaitMs))
            return QString();
    }
    return QString::fromUtf8(process.readLine()).trimmed();
}

struct TProbe {
    std::unique_ptr<QProcess> Process;
    QString FirstLine;
};

TProbe Start(const QString& dataFolder, const QStringList& arguments = {}, const QString& workingFolder = {}) {
    TProbe probe{std::make_unique<QProcess>(), QString()};
    if (!workingFolder.isEmpty())
        probe.Process->setWorkingDirectory(workingFolder);
    probe.Process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.Process->start(Probe, QStringList{QStringLiteral("--data-dir"), dataFolder} + arguments);
    probe.FirstLine = NextLine(*probe.Process);
    return probe;
}

// Runs a second process to its end; returns what it printed.
QString RunSecond(const QString& dataFolder, const QStringList& arguments, const QString& workingFolder = {}) {
    TProbe probe = Start(dataFolder, arguments, workingFolder);
    if (!probe.Process->waitForFinished(WaitMs))
        return QStringLiteral("did not end");
    if (probe.Process->exitCode() != 0)
        return probe.FirstLine + QStringLiteral(" (exit code ") + QString::number(probe.Process->exitCode()) + u')';
    return probe.FirstLine;
}

void Stop(TProbe& probe) {
    probe.Process->kill();
    probe.Process->waitForFinished(WaitMs);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_data;
    QString m_work;
    TProbe m_primary;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_data = m_dir.filePath(QStringLiteral("data"));
        m_work = m_dir.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(m_work));
        m_primary = Start(m_data);
        QCOMPARE(m_primary.FirstLine, QStringLiteral("primary"));
    }
    void cleanupTestCase() {
        if (m_primary.Process)
            Stop(m_primary);
    }

    void handOver_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("received"); // what the first prints; empty: nothing
        const QString work = m_dir.filePath(QStringLiteral("work"));
        QTest::addRow("no arguments") << Args({}) << "handed-over"
                                      << "show";
        QTest::addRow("hide") << Args({"/hide"}) << "handed-over"
                              << "show";
        QTest::addRow("job file, relative") << Args({"Daily.vlj"}) << "handed-over"
                                            << QString(QStringLiteral("open ") + work + QStringLiteral("/Daily.vlj"));
        QTest::addRow("job file, absolute") << QStringList{QStringLiteral("/srv/jobs/My Job.vlj")} << "handed-over"
                                            << "open /srv/jobs/My Job.vlj";
        QTest::addRow("other file only shows") << Args({"notes.txt"}) << "handed-over"
                                               << "show";
        QTest::addRow("backup runs anyway") << Args({"/backup", "Daily"}) << "independent"
                                            << "";
        QTest::addRow("restore runs anyway") << Args({"-RESTORE", "Daily"}) << "independent"
                                             << "";
        QTest::addRow("remove runs anyway") << Args({"/remove", "Daily"}) << "independent"
                                            << "";
        QTest::addRow("admin runs anyway") << Args({"/admin", "/hide"}) << "independent"
                                           << "";
    }
    void handOver() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, second);
        QFETCH(QString, received);
        QCOMPARE(RunSecond(m_data, arguments, m_work), second);
        if (received.isEmpty()) {
            // Nothing reached the first: the next request it sees is the one sent now.
            QCOMPARE(RunSecond(m_data, {}), QStringLiteral("handed-over"));
            received = QStringLiteral("show");
        }
        QCOMPARE(NextLine(*m_primary.Process), received);
    }

    // With a legacy jobs list the stored job files are ".vlk"; only those are handed over.
    void legacyExtension() {
        const QString data = m_dir.filePath(QStringLiteral("legacy"));
        QVERIFY(QDir().mkpath(data));
        QFile list(data + QStringLiteral("/jobs.vll"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.close();
        TProbe primary = Start(data);
        QCOMPARE(primary.FirstLine, QStringLiteral("primary"));
        QCOMPARE(RunSecond(data, {QStringLiteral("/srv/Daily.vlj")}), QStringLiteral("handed-over"));
        QCOMPARE(NextLine(*primary.Process), QStringLiteral("show"));
        QCOMPARE(RunSecond(data, {QStringLiteral("/srv/Daily.vlk")}), QStringLiteral("handed-over"));
        QCOMPARE(NextLine(*primary.Process), QStringLiteral("open /srv/Daily.vlk"));
        Stop(primary);
    }

    void otherDataFolderIsAnotherInstance() {
        TProbe other = Start(m_dir.filePath(QStringLiteral("other")));
        QCOMPARE(other.FirstLine, QStringLiteral("primary"));
        QCOMPARE(RunSecond(m_dir.filePath(QStringLiteral("other")), {}), QStringLiteral("handed-over"));
        QCOMPARE(NextLine(*other.Process), QStringLiteral("show"));
        Stop(other);
        // The first instance saw none of it.
        QCOMPARE(RunSecond(m_data, {QStringLiteral("/x/y.vlj")}), QStringLiteral("handed-over"));
        QCOMPARE(NextLine(*m_primary.Process), QStringLiteral("open /x/y.vlj"));
    }

    // A killed instance leaves its socket file; the next process takes over all the same.
    void crashedInstanceIsReplaced() {
        const QString data = m_dir.filePath(QStringLiteral("crash"));
        TProbe crashed = Start(data);
        QCOMPARE(crashed.FirstLine, QStringLiteral("primary"));
        Stop(crashed); // SIGKILL: no clean-up
        TProbe next = Start(data);
        QCOMPARE(next.FirstLine, QStringLiteral("primary"));
        QCOMPARE(RunSecond(data, {}), QStringLiteral("handed-over"));
        QCOMPARE(NextLine(*next.Process), QStringLiteral("show"));
        Stop(next);
    }

    // With no instance running, a process started elevated becomes the instance.
    void elevatedFirstIsTheInstance() {
        const QString data = m_dir.filePath(QStringLiteral("elevated"));
        TProbe first = Start(data, {QStringLiteral("/backup"), QStringLiteral("Daily")});
        QCOMPARE(first.FirstLine, QStringLiteral("primary"));
        QCOMPARE(RunSecond(data, {QStringLiteral("Job.vlj")}, m_work), QStringLiteral("handed-over"));
        QCOMPARE(NextLine(*first.Process), QStringLiteral("open ") + m_work + QStringLiteral("/Job.vlj"));
        Stop(first);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
