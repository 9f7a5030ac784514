// The logind clients against a stand-in logind on a private bus: the sleep inhibitor holds its
// lock until released (also when released before logind answered), power-off reports refusals,
// and without a bus or without logind nothing happens.

#include "platform/TLogindPowerOff.h"
#include "platform/TLogindSleepInhibitor.h"

#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString FakeLogind = QStringLiteral(VAULTORA_BINARY_DIR "/bin/vaultora-fake-logind");
constexpr int WaitMs = 20000;

} // namespace

class TestLogind : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    std::unique_ptr<QProcess> m_logind;
    QString m_said;
    int m_connections = 0;

    QDBusConnection Connect() {
        return QDBusConnection::connectToBus(m_address, u"client-"_s + QString::number(++m_connections));
    }

    bool StartLogind(const QStringList& extra = {}) {
        m_logind = std::make_unique<QProcess>();
        m_said.clear();
        m_logind->start(FakeLogind, QStringList{m_address} + extra);
        return m_logind->waitForStarted() && WaitFor(u"ready"_s);
    }

    // Waits (bounded) until the stand-in has printed line.
    bool WaitFor(const QString& line) {
        QDeadlineTimer deadline(WaitMs);
        while (!m_said.split(u'\n').contains(line)) {
            if (deadline.hasExpired() || m_logind->state() != QProcess::Running)
                return false;
            m_logind->waitForReadyRead(100);
            QCoreApplication::processEvents();
            m_said += QString::fromUtf8(m_logind->readAllStandardOutput());
        }
        return true;
    }

private Q_SLOTS:
    void initTestCase() {
        const QString dbusDaemon = QStandardPaths::findExecutable(u"dbus-daemon"_s);
        if (dbusDaemon.isEmpty())
            QFAIL("dbus-daemon is missing (Debian package dbus-daemon)");
        QFile config(m_dir.filePath(u"bus.conf"_s));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                     " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                     "<busconfig>\n"
                     "  <type>session</type>\n"
                     "  <listen>unix:path=" +
                     QFile::encodeName(m_dir.filePath(u"bus"_s)) +
                     "</listen>\n"
                     "  <auth>EXTERNAL</auth>\n"
                     "  <policy context=\"default\">\n"
                     "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                     "    <allow eavesdrop=\"true\"/>\n"
                     "    <allow own=\"*\"/>\n"
                     "  </policy>\n"
                     "</busconfig>\n");
        config.close();
        m_daemon.start(dbusDaemon, {u"--config-file="_s + config.fileName(), u"--nofork"_s, u"--print-address=1"_s});
        QVERIFY(m_daemon.waitForStarted());
        QDeadlineTimer deadline(WaitMs);
        QByteArray out;
        while (!out.contains('\n') && !deadline.hasExpired()) {
            m_daemon.waitForReadyRead(100);
            out += m_daemon.readAllStandardOutput();
        }
        m_address = QString::fromUtf8(out).trimmed();
        QVERIFY2(!m_address.isEmpty(), m_daemon.readAllStandardError().constData());
    }

    void cleanup() {
        if (m_logind) {
            m_logind->kill();
            m_logind->waitForFinished();
            m_logind.reset();
        }
    }

    void cleanupTestCase() {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    void theLockIsHeldUntilReleased() {
        QVERIFY(StartLogind());
        const QDBusConnection bus = Connect();
        TLogindSleepInhibitor inhibitor(bus);
        QSignalSpy answered(&inhibitor, &TLogindSleepInhibitor::Answered);
        inhibitor.Block();
        QVERIFY(answered.wait(WaitMs));
        QVERIFY(inhibitor.IsHeld());
        QVERIFY(WaitFor(u"inhibit sleep|Vaultora|Backup jobs are running or due|block"_s));
        // Asking again while blocked takes no second lock. The stand-in answers one connection's
        // calls in order, so once it has seen a later call it has seen any second request.
        inhibitor.Block();
        TLogindPowerOff(bus).PowerOff();
        QVERIFY(WaitFor(u"poweroff false"_s));
        QCOMPARE(m_said.count(u"inhibit "_s), 1);
        QVERIFY(!m_said.contains(u"released"_s));
        inhibitor.Release();
        QVERIFY(!inhibitor.IsHeld());
        QVERIFY(WaitFor(u"released"_s));
    }

    void aReleaseBeforeTheAnswerDropsTheLock() {
        QVERIFY(StartLogind());
        TLogindSleepInhibitor inhibitor(Connect());
        QSignalSpy answered(&inhibitor, &TLogindSleepInhibitor::Answered);
        inhibitor.Block();
        inhibitor.Release();
        QVERIFY(answered.wait(WaitMs));
        QVERIFY(!inhibitor.IsHeld());
        QVERIFY(WaitFor(u"released"_s));
    }

    void withoutLogindNothingIsBlocked() {
        TLogindSleepInhibitor inhibitor(Connect());
        QSignalSpy answered(&inhibitor, &TLogindSleepInhibitor::Answered);
        inhibitor.Block();
        QVERIFY(answered.wait(WaitMs));
        QVERIFY(!inhibitor.IsHeld());
        TLogindPowerOff powerOff(Connect());
        QVERIFY(!powerOff.PowerOff());
    }

    void withoutABusNothingHappens() {
        const QDBusConnection none =
            QDBusConnection::connectToBus(u"unix:path="_s + m_dir.filePath(u"no-bus"_s), u"nowhere"_s);
        QVERIFY(!none.isConnected());
        TLogindSleepInhibitor inhibitor(none);
        inhibitor.Block();
        QVERIFY(!inhibitor.IsHeld());
        inhibitor.Release();
        TLogindPowerOff powerOff(none);
        QVERIFY(!powerOff.PowerOff());
    }

    void powerOff_data() {
        QTest::addColumn<bool>("refuse");
        QTest::newRow("accepted") << false;
        QTest::newRow("refused") << true;
    }

    void powerOff() {
        QFETCH(bool, refuse);
        QVERIFY(StartLogind(refuse ? QStringList{u"--refuse-power-off"_s} : QStringList{}));
        TLogindPowerOff powerOff(Connect());
        QCOMPARE(powerOff.PowerOff(), !refuse);
        // Never interactive: nobody may be there to type a password.
        QVERIFY(WaitFor(u"poweroff false"_s));
    }
};

QTEST_GUILESS_MAIN(TestLogind)
#include "tst_logind.moc"
