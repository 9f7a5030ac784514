// The desktop notifier against a stand-in notification service on a private bus: what a Notify
// carries, that texts are escaped for the service's markup, and that a missing service or bus is
// reported once and never held against the caller.

#include "TNotificationStandIn.h"

#include "platform/TDBusDesktopNotifier.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr int WaitMs = 20000;
}

class TestDesktopNotifier : public QObject {
    Q_OBJECT

private:
    TNotificationStandIn m_service;

private Q_SLOTS:
    void initTestCase() {
        QString why;
        QVERIFY2(m_service.Start(&why), qPrintable(why));
    }

    void init() { m_service.Calls.clear(); }

    void notifyCarriesTheMessage() {
        TDBusDesktopNotifier notifier(m_service.Connect());
        QStringList failures;
        notifier.OnFailure = [&failures](const QString& why) { failures.append(why); };
        QSignalSpy received(&m_service, &TNotificationStandIn::Received);
        notifier.Notify(u"Documents"_s, u"Finished with errors on 10.06.2024 10:00\nErrors: 2"_s);
        QVERIFY(received.wait(WaitMs));
        QCOMPARE(m_service.Calls.size(), 1);
        const TNotificationStandIn::TCall& call = m_service.Calls.first();
        QCOMPARE(call.Application, u"Vaultora"_s);
        QCOMPARE(call.ReplacesId, 0u);
        QCOMPARE(call.Icon, u"org.vaultora.Vaultora"_s);
        QCOMPARE(call.Summary, u"Documents"_s);
        QCOMPARE(call.Body, u"Finished with errors on 10.06.2024 10:00\nErrors: 2"_s);
        QVERIFY(call.Actions.isEmpty());
        QCOMPARE(call.Hints.value(u"desktop-entry"_s).toString(), u"org.vaultora.Vaultora"_s);
        // A message that goes away by itself: neither "never" (0) nor the server's choice (-1).
        QVERIFY(call.ExpireTimeout > 0);
        QSignalSpy answered(&notifier, &TDBusDesktopNotifier::Answered);
        QVERIFY(answered.count() == 1 || answered.wait(WaitMs));
        QVERIFY(failures.isEmpty());
    }

    void markupInTheBodyIsShownAsText() {
        TDBusDesktopNotifier notifier(m_service.Connect());
        QSignalSpy received(&m_service, &TNotificationStandIn::Received);
        notifier.Notify(u"R&D <old>"_s, u"ERROR: R&D <old>: cannot read /a/<b>"_s);
        QVERIFY(received.wait(WaitMs));
        // The summary is plain text by the protocol; the body is read as markup.
        QCOMPARE(m_service.Calls.first().Summary, u"R&D <old>"_s);
        QCOMPARE(m_service.Calls.first().Body, u"ERROR: R&amp;D &lt;old&gt;: cannot read /a/&lt;b&gt;"_s);
    }

    void withoutTheServiceOneFailureIsReported() {
        QVERIFY(m_service.Withdraw());
        TDBusDesktopNotifier notifier(m_service.Connect());
        QStringList failures;
        notifier.OnFailure = [&failures](const QString& why) { failures.append(why); };
        QSignalSpy answered(&notifier, &TDBusDesktopNotifier::Answered);
        notifier.Notify(u"A"_s, u"first"_s);
        notifier.Notify(u"B"_s, u"second"_s);
        QTRY_COMPARE_WITH_TIMEOUT(answered.count(), 2, WaitMs);
        QCOMPARE(failures.size(), 1);
        QVERIFY(!failures.first().isEmpty());
        QVERIFY(m_service.Calls.isEmpty());
        QVERIFY(m_service.Register());
    }

    void withoutABusOneFailureIsReported() {
        QTemporaryDir dir;
        const QDBusConnection none =
            QDBusConnection::connectToBus(u"unix:path="_s + dir.filePath(u"no-bus"_s), u"nowhere"_s);
        QVERIFY(!none.isConnected());
        TDBusDesktopNotifier notifier(none);
        int failures = 0;
        notifier.OnFailure = [&failures](const QString&) { ++failures; };
        notifier.Notify(u"A"_s, u"first"_s);
        notifier.Notify(u"B"_s, u"second"_s);
        QCOMPARE(failures, 1);
    }
};

QTEST_GUILESS_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
