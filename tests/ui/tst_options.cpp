// The Options dialog: its checks on OK, the password dialog, the controls that follow their check
// boxes, the test message, and the window applying what was edited.

#include "UiTestSupport.h"

#include "ui/TfrmMainVaultora.h"
#include "ui/TfrmOptions.h"
#include "ui/TfrmPassword.h"

#include "core/format/OptionsFile.h"
#include "core/schedule/TJobNotices.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

template <class T>
T* Control(QWidget& dialog, const char* name) {
    T* widget = dialog.findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no control %s", name);
    return widget;
}

// Every text the dialog shows.
QStringList ShownTexts(QWidget& dialog) {
    QStringList texts;
    for (const QLineEdit* edit : dialog.findChildren<QLineEdit*>())
        texts.append(edit->text());
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        texts.append(label->text());
    return texts;
}

} // namespace

class TestOptions : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<UiTest::TFixture> m_fixture;

    QString Folder(const QString& name) {
        const QString path = m_fixture->Path(name);
        QDir().mkpath(path);
        return path;
    }

    TOptions Valid() {
        TOptions options;
        options.General.PathForTempFiles = Folder(u"temp"_s);
        options.Logging.PathForLogFiles = Folder(u"logs"_s);
        return options;
    }

private Q_SLOTS:
    void init() { m_fixture = std::make_unique<UiTest::TFixture>(); }
    void cleanup() { m_fixture.reset(); }

    void okChecks_data() {
        QTest::addColumn<bool>("protect");
        QTest::addColumn<QString>("temp");
        QTest::addColumn<QString>("logs");
        QTest::addColumn<QString>("error");
        QTest::newRow("accepted") << false << u"temp"_s << u"logs"_s << QString();
        QTest::newRow("protection without a password")
            << true << u"temp"_s << u"logs"_s << u"Please specify a password for configuration protection."_s;
        QTest::newRow("no temporary folder")
            << false << u"missing"_s << u"logs"_s << u"Please choose a correct path for the temporary files."_s;
        QTest::newRow("empty temporary path")
            << false << QString() << u"logs"_s << u"Please choose a correct path for the temporary files."_s;
        QTest::newRow("no log folder") << false << u"temp"_s << u"missing"_s
                                       << u"Please choose a correct path for the log files."_s;
        QTest::newRow("same folder") << false << u"temp"_s << u"temp"_s
                                     << u"Unable to set the same path for temporary files and log files."_s;
        QTest::newRow("same folder, trailing blank")
            << false << u"temp"_s << u"temp "_s << u"Please choose a correct path for the log files."_s;
        QTest::newRow("letter case differs") << false << u"Work"_s << u"work"_s << QString();
    }

    void okChecks() {
        QFETCH(bool, protect);
        QFETCH(QString, temp);
        QFETCH(QString, logs);
        QFETCH(QString, error);
        for (const QString& folder : {u"temp"_s, u"logs"_s, u"Work"_s, u"work"_s})
            Folder(folder);
        TfrmOptions dialog;
        dialog.Load(Valid());
        Control<QCheckBox>(dialog, "cbProtectConfiguration")->setChecked(protect);
        Control<QLineEdit>(dialog, "edPathForTempFiles")->setText(temp.isEmpty() ? QString() : m_fixture->Path(temp));
        Control<QLineEdit>(dialog, "edPathForLogFiles")->setText(m_fixture->Path(logs));
        dialog.show();
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        QCOMPARE(UiTest::ShownTexts(), error.isEmpty() ? QStringList() : QStringList{error});
        QCOMPARE(dialog.result(), error.isEmpty() ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(dialog.isVisible(), !error.isEmpty());
    }

    // Every field goes through the controls and back unchanged; the passwords stay as they were.
    void roundTrip() {
        TOptions options = Valid();
        options.General.RunProgramAtLogon = false;
        options.General.BlockSleepModeifJobIsScheduled = false;
        options.General.ProtectConfigurationbyPassword = true;
        options.General.strProtectConfiguration_Password = u"config-secret"_s;
        options.General.ProcessPriority = 2;
        options.Logging = {7, 80, 90, true, options.Logging.PathForLogFiles};
        options.Processing = {true, 3, 12, 1, true, false, true, true, true};
        options.ExcludedDirs = {u"/home/u/.cache"_s, u"/tmp"_s};
        options.Email = {
            true, true, u"a@b.example, c@d.example"_s, u"smtp.example"_s, u"587"_s, u"me"_s, u"smtp-secret"_s, 2};
        options.Proxy = {true, 2, u"proxy.example"_s, u"1080"_s, u"pu"_s, u"proxy-secret"_s};
        TfrmOptions dialog;
        dialog.Load(options);
        QCOMPARE(dialog.Edited(), options);
        dialog.show();
        // The passwords are never shown; the labels say they are set.
        for (const QString& text : ShownTexts(dialog))
            QVERIFY2(!text.contains(u"secret"_s), qPrintable(text));
        QCOMPARE(Control<QLabel>(dialog, "lblSMTPPassword")->text(), u"Password is set"_s);
        QCOMPARE(Control<QCheckBox>(dialog, "cbDontLogCopyingInternalFiles")->text(),
                 u"Do not log copying of the internal database files (*.vlj, *.vll)"_s);
        QCOMPARE(dialog.Tabs()->count(), 6);
    }

    void enabledStates_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QStringList>("controls");
        QTest::newRow("configuration password")
            << u"cbProtectConfiguration"_s << QStringList{u"btnSetConfigurationPassword"_s};
        QTest::newRow("e-mail")
            << u"cbSendEmailNotification"_s
            << QStringList{u"cbSendOnlyIfCancelled"_s, u"edRecipient"_s,        u"edSMTPHost"_s, u"edSMTPPort"_s,
                           u"edSMTPUsername"_s,        u"btnSetSMTPPassword"_s, u"cbSecurity"_s, u"btnSendTest"_s,
                           u"btnProxySettings"_s};
        QTest::newRow("proxy") << u"cbProxyEnabled"_s
                               << QStringList{u"cbProxyType"_s, u"edProxyHost"_s, u"edProxyPort"_s,
                                              u"edProxyUsername"_s, u"btnSetProxyPassword"_s};
    }

    void enabledStates() {
        QFETCH(QString, box);
        QFETCH(QStringList, controls);
        TfrmOptions dialog;
        dialog.Load(Valid());
        auto* check = dialog.findChild<QCheckBox*>(box);
        for (bool on : {false, true, false}) {
            check->setChecked(on);
            for (const QString& name : controls)
                QCOMPARE(dialog.findChild<QWidget*>(name)->isEnabled(), on);
        }
    }

    void passwordDialog_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("result");
        QTest::newRow("equal") << u"pw"_s << u"pw"_s << true << u"pw"_s;
        QTest::newRow("equal after trimming") << u" pw "_s << u"pw"_s << true << u"pw"_s;
        QTest::newRow("different") << u"pw"_s << u"pW"_s << false << QString();
        QTest::newRow("both empty clears") << QString() << u"  "_s << true << QString();
    }

    // Enter acts as OK; unequal entries are refused and the dialog stays.
    void passwordDialog() {
        QFETCH(QString, password);
        QFETCH(QString, confirmation);
        QFETCH(bool, accepted);
        QFETCH(QString, result);
        TfrmPassword dialog;
        dialog.show();
        QCOMPARE(dialog.PasswordEdit()->echoMode(), QLineEdit::Password);
        QTest::keyClicks(dialog.PasswordEdit(), password);
        QTest::keyClicks(dialog.ConfirmationEdit(), confirmation);
        QTest::keyClick(dialog.ConfirmationEdit(), Qt::Key_Return);
        QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
        QCOMPARE(UiTest::ShownTexts(), accepted ? QStringList() : QStringList{u"Passwords do not match."_s});
        if (accepted)
            QCOMPARE(dialog.Password(), result);
        dialog.ShowPasswordBox()->setChecked(true);
        QCOMPARE(dialog.PasswordEdit()->echoMode(), QLineEdit::Normal);
    }

    void setPasswordButtons_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("label");
        QTest::newRow("configuration") << u"btnSetConfigurationPassword"_s << u"lblConfigurationPassword"_s;
        QTest::newRow("SMTP") << u"btnSetSMTPPassword"_s << u"lblSMTPPassword"_s;
        QTest::newRow("proxy") << u"btnSetProxyPassword"_s << u"lblProxyPassword"_s;
    }

    // "Set Password" replaces the password; the label follows; the typed text is never shown
    // again.
    void setPasswordButtons() {
        QFETCH(QString, button);
        QFETCH(QString, label);
        TfrmOptions dialog;
        TOptions options = Valid();
        options.General.ProtectConfigurationbyPassword = true;
        options.Email.SendEmailNotificationWhenFinishedBackup = true;
        options.Proxy.Enabled = true;
        dialog.Load(options);
        QCOMPARE(dialog.findChild<QLabel*>(label)->text(), u"Password is not set"_s);
        QString typed = u"  typed-secret "_s;
        dialog.DialogRunner = [&typed](QDialog& shown) {
            auto* password = qobject_cast<TfrmPassword*>(&shown);
            password->PasswordEdit()->setText(typed);
            password->ConfirmationEdit()->setText(typed);
            password->accept();
            return shown.result();
        };
        auto* setPassword = dialog.findChild<QPushButton*>(button);
        dialog.show();
        dialog.Tabs()->setCurrentWidget(setPassword->parentWidget());
        QTest::mouseClick(setPassword, Qt::LeftButton);
        QCOMPARE(dialog.findChild<QLabel*>(label)->text(), u"Password is set"_s);
        const TOptions edited = dialog.Edited();
        const QStringList passwords{edited.General.strProtectConfiguration_Password, edited.Email.Password,
                                    edited.Proxy.Password};
        QCOMPARE(passwords.count(u"typed-secret"_s), 1);
        for (const QString& text : ShownTexts(dialog))
            QVERIFY(!text.contains(u"secret"_s));
        typed.clear();
        QTest::mouseClick(setPassword, Qt::LeftButton);
        QCOMPARE(dialog.findChild<QLabel*>(label)->text(), u"Password is not set"_s);
    }

    void sendTest_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QList<int>>("answers"); // OK = 1, Cancel = 0, for the gmail hint
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<bool>("helpOpened");
        const QString gmailHint =
            u"It looks like Google is your email provider. By default, Google blocks access to email account from "
            u"desktop applications.\n\nYou must generate a special App Password in your Google Account, and use "
            u"it here instead of your actual gmail password.\n\nClick \"OK\" and learn the instruction."_s;
        QTest::newRow("sent") << int(terSent) << u"smtp.example"_s << QList<int>{}
                              << QStringList{u"Email has been sent successfully!"_s} << false;
        QTest::newRow("bad port") << int(terInvalidPort) << u"smtp.example"_s << QList<int>{}
                                  << QStringList{u"Please verify SMTP and proxy settings."_s} << false;
        QTest::newRow("failed") << int(terFailed) << u"smtp.example"_s << QList<int>{}
                                << QStringList{u"Failed to send email to a@b.example\nrefused"_s} << false;
        QTest::newRow("failed at gmail, OK")
            << int(terFailed) << u"SMTP.GMAIL.com"_s << QList<int>{1}
            << QStringList{u"Failed to send email to a@b.example\nrefused"_s, gmailHint} << true;
        QTest::newRow("failed at gmail, Cancel")
            << int(terFailed) << u"smtp.gmail.com"_s << QList<int>{0}
            << QStringList{u"Failed to send email to a@b.example\nrefused"_s, gmailHint} << false;
    }

    // "Send Test" sends what is entered (not what is stored) and reports each outcome.
    void sendTest() {
        QFETCH(int, result);
        QFETCH(QString, host);
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, boxes);
        QFETCH(bool, helpOpened);
        TOptions options = Valid();
        options.Email.SendEmailNotificationWhenFinishedBackup = true;
        options.Email.Password = u"pw"_s;
        TfrmOptions dialog;
        dialog.Load(options);
        Control<QLineEdit>(dialog, "edRecipient")->setText(u"a@b.example"_s);
        Control<QLineEdit>(dialog, "edSMTPHost")->setText(host);
        Control<QLineEdit>(dialog, "edSMTPPort")->setText(u"2525"_s);
        Control<QCheckBox>(dialog, "cbProxyEnabled")->setChecked(true);
        Control<QLineEdit>(dialog, "edProxyPort")->setText(u"3128"_s);
        TEmailOptions sentEmail;
        TProxyOptions sentProxy;
        dialog.SendTest = [&](const TEmailOptions& email, const TProxyOptions& proxy, QString& error) {
            sentEmail = email;
            sentProxy = proxy;
            error = u"refused"_s;
            return TTestEmailResult(result);
        };
        QList<QUrl> opened;
        TProductSite::SetOpener([&opened](const QUrl& url) { opened.append(url); });
        for (int answer : answers)
            TMessageBox::SetNextAnswer(answer ? QMessageBox::Ok : QMessageBox::Cancel);
        dialog.show();
        dialog.Tabs()->setCurrentIndex(4);
        QTest::mouseClick(Control<QPushButton>(dialog, "btnSendTest"), Qt::LeftButton);
        QCOMPARE(UiTest::ShownTexts(), boxes);
        QCOMPARE(sentEmail.SMTPHost, host);
        QCOMPARE(sentEmail.SMTPPort, u"2525"_s);
        QCOMPARE(sentEmail.Password, u"pw"_s);
        QVERIFY(sentProxy.Enabled);
        QCOMPARE(sentProxy.Port, u"3128"_s);
        QCOMPARE(opened.size(), helpOpened ? 1 : 0);
        if (helpOpened) {
            QCOMPARE(opened.first().scheme(), u"https"_s);
            QCOMPARE(opened.first().path(), u"/manual/generate-app-password.html"_s);
        }
        TProductSite::SetOpener([](const QUrl&) {});
    }

    void proxySettingsButton() {
        TfrmOptions dialog;
        TOptions options = Valid();
        options.Email.SendEmailNotificationWhenFinishedBackup = true;
        dialog.Load(options);
        dialog.show();
        dialog.Tabs()->setCurrentIndex(4);
        QTest::mouseClick(Control<QPushButton>(dialog, "btnProxySettings"), Qt::LeftButton);
        QCOMPARE(dialog.Tabs()->currentWidget()->objectName(), u"tabProxy"_s);
    }

    // Tools > Options: the window takes the edited record, saves it, and reports a refused autorun
    // change with the old value kept.
    void windowAppliesTheOptions_data() {
        QTest::addColumn<bool>("autorunRefused");
        QTest::newRow("applied") << false;
        QTest::newRow("autorun refused") << true;
    }

    void windowAppliesTheOptions() {
        QFETCH(bool, autorunRefused);
        auto context = m_fixture->StartContext();
        auto scheduler = m_fixture->Scheduler(*context);
        TfrmMainVaultora window(*context, *scheduler);
        window.AfterStart();
        QVERIFY(App().Options.General.RunProgramAtLogon);
        m_fixture->Autostart.NextResult = autorunRefused ? TAutostart::TResult::WriteFailed : TAutostart::TResult::Done;
        window.DialogRunner = [](QDialog& dialog) {
            auto* options = qobject_cast<TfrmOptions*>(&dialog);
            Control<QSpinBox>(*options, "seMaxNumberOfLogsForEachJob")->setValue(3);
            Control<QComboBox>(*options, "cbProcessPriority")->setCurrentIndex(0);
            Control<QCheckBox>(*options, "cbRunProgramAtLogon")->setChecked(false);
            options->accept();
            return options->result();
        };
        window.Action(u"actOptions"_s)->trigger();
        QCOMPARE(App().Options.Logging.MaxNumberOfLogsForEachJob, 3);
        QCOMPARE(m_fixture->Priority.Requests.last(), 0);
        QCOMPARE(App().Options.General.RunProgramAtLogon, autorunRefused);
        const QStringList boxes = UiTest::ShownTexts();
        QCOMPARE(boxes.size(), autorunRefused ? 1 : 0);
        if (autorunRefused)
            QVERIFY(boxes.first().contains(u"/fake/autostart"_s));
        TOptions saved;
        QVERIFY(LoadOptions(m_fixture->DataFolder() + u"/options.vlo"_s, saved));
        QCOMPARE(saved.Logging.MaxNumberOfLogsForEachJob, 3);
    }

    // The desktop notifications switch lives in the window settings, on by default; the options
    // file stays as it was.
    void desktopNotificationsSwitch() {
        auto context = m_fixture->StartContext();
        auto scheduler = m_fixture->Scheduler(*context);
        TfrmMainVaultora window(*context, *scheduler);
        window.AfterStart();
        bool shownChecked = false;
        bool check = true;
        bool ok = true;
        window.DialogRunner = [&](QDialog& dialog) {
            auto* options = qobject_cast<TfrmOptions*>(&dialog);
            auto* box = Control<QCheckBox>(*options, "cbDesktopNotifications");
            shownChecked = box->isChecked();
            box->setChecked(check);
            if (!ok)
                return int(QDialog::Rejected);
            options->accept();
            return options->result();
        };
        window.Action(u"actOptions"_s)->trigger();
        QVERIFY(shownChecked);
        const QString optionsFile = m_fixture->DataFolder() + u"/options.vlo"_s;
        const QByteArray before = UiTest::ReadFile(optionsFile);
        QVERIFY(!before.isEmpty());

        check = false;
        window.Action(u"actOptions"_s)->trigger();
        QVERIFY(!TJobNotices::SwitchedOn());
        const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, u"Vaultora"_s, u"Vaultora"_s);
        QCOMPARE(settings.value(u"desktop_notifications"_s).toBool(), false);
        QCOMPARE(UiTest::ReadFile(optionsFile), before);
        // Shown as stored; Cancel keeps it.
        check = true;
        ok = false;
        window.Action(u"actOptions"_s)->trigger();
        QVERIFY(!shownChecked);
        QVERIFY(!TJobNotices::SwitchedOn());
        ok = true;
        window.Action(u"actOptions"_s)->trigger();
        QVERIFY(TJobNotices::SwitchedOn());
    }

    void screenshot() {
        TfrmOptions dialog;
        TOptions options = Valid();
        options.Email.SendEmailNotificationWhenFinishedBackup = true;
        options.Email.RecipientEmail = u"me@example.org"_s;
        options.Email.SMTPHost = u"smtp.example.org"_s;
        options.Email.SMTPPort = u"587"_s;
        options.Email.Password = u"x"_s;
        options.Email.Security = 2;
        dialog.Load(options);
        dialog.resize(640, 480);
        dialog.show();
        dialog.Tabs()->setCurrentIndex(4);
        QVERIFY(dialog.grab().save(UiTest::Artifacts + u"/options-report-delivery.png"_s));
        dialog.Tabs()->setCurrentIndex(0);
        QVERIFY(dialog.grab().save(UiTest::Artifacts + u"/options-general.png"_s));
    }
};

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
