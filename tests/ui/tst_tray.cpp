// The notification-area icon on a real X server with a notification area (with_tray.sh): closing
// hides the window behind the icon, whose menu opens it again (after the configuration password
// when it is protected) and quits the program.

#include "UiTestSupport.h"

#include "ui/TfrmMainVaultora.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestTray : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<UiTest::TFixture> m_fixture;
    std::unique_ptr<TApplicationContext> m_context;
    std::unique_ptr<TScheduler> m_scheduler;
    std::unique_ptr<TfrmMainVaultora> m_window;

    TfrmMainVaultora& Window() {
        m_context = m_fixture->StartContext();
        m_scheduler = m_fixture->Scheduler(*m_context);
        m_window = std::make_unique<TfrmMainVaultora>(*m_context, *m_scheduler);
        m_window->AfterStart();
        m_window->show();
        return *m_window;
    }

    QAction* TrayAction(TfrmMainVaultora& window, const QString& text) {
        for (QAction* action : window.TrayIcon()->contextMenu()->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }

private Q_SLOTS:
    void initTestCase() {
        // trayer docks a moment after the X server starts.
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 60000);
    }

    void init() { m_fixture = std::make_unique<UiTest::TFixture>(); }

    void cleanup() {
        m_window.reset();
        m_scheduler.reset();
        m_context.reset();
        m_fixture.reset();
    }

    void closeHidesAndTheIconOpens() {
        TfrmMainVaultora& window = Window();
        QVERIFY(window.TrayIcon()->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy closed(&window, &TfrmMainVaultora::Closed);
        window.close();
        QVERIFY(window.isHidden());
        QVERIFY(!window.isMinimized());
        QCOMPARE(closed.count(), 0);
        QVERIFY(TrayAction(window, u"Open"_s));
        QVERIFY(TrayAction(window, u"Quit"_s));
        TrayAction(window, u"Open"_s)->trigger();
        QVERIFY(window.isVisible());
        // A click on the icon shows the window too.
        window.Minimize();
        QVERIFY(window.isHidden());
        Q_EMIT window.TrayIcon()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(window.isVisible());
    }

    void protectedConfiguration_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("shown");
        QTest::newRow("right password") << u"secret"_s << true;
        QTest::newRow("wrong password") << u"Secret"_s << false;
    }

    void protectedConfiguration() {
        QFETCH(QString, typed);
        QFETCH(bool, shown);
        TfrmMainVaultora& window = Window();
        App().Options.General.ProtectConfigurationbyPassword = true;
        App().Options.General.strProtectConfiguration_Password = u"secret"_s;
        window.close();
        QVERIFY(window.isHidden());
        TInputBox::SetNextAnswer(typed);
        TrayAction(window, u"Open"_s)->trigger();
        QCOMPARE(TInputBox::TakePrompts(), QStringList{u"Password:"_s});
        QCOMPARE(window.isVisible(), shown);
        QCOMPARE(UiTest::ShownTexts(), shown ? QStringList() : QStringList{u"Invalid password"_s});
    }

    void quitFromTheIcon() {
        TfrmMainVaultora& window = Window();
        window.close();
        QSignalSpy closed(&window, &TfrmMainVaultora::Closed);
        TMessageBox::SetNextAnswer(QMessageBox::Yes);
        TrayAction(window, u"Quit"_s)->trigger();
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"Quit Vaultora?"_s});
        QCOMPARE(closed.count(), 1);
        QVERIFY(!window.TrayIcon()->isVisible());
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
