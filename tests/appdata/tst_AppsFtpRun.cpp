// An application data backup and restore through an FTP server (pyftpdlib on loopback): the same
// storage operations as a local folder, the same data back.

#include "../net/TFtpServer.h"

#include "core/settings/FTPAccounts.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/appdata/AppDefinitions.h"
#include "jobs/appdata/TJob_AppsData.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

QMap<QString, QByteArray> Tree(const QString& root) {
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.contains(u" - RENAMED ON "_s))
            continue;
        QFile file(path);
        tree[path.mid(root.size())] =
            QFileInfo(path).isDir() ? "<dir>"_ba : (file.open(QIODevice::ReadOnly) ? file.readAll() : "<?>"_ba);
    }
    return tree;
}

void Write(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

} // namespace

class TestAppsFtpRun : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    TFtpServer m_server;

private Q_SLOTS:
    void initTestCase() {
        const QString problem = m_server.Start({});
        if (!problem.isEmpty())
            QSKIP(qPrintable(problem));
    }

    void roundTripThroughFtp() {
        const QString definitions = m_root.filePath(u"definitions"_s);
        Write(definitions + u"/Test.adp"_s, "Editor\n%HOME%/.config/editor\n%HOME%/.editorrc\n");
        QVERIFY(AppDefinitions::Load(definitions));
        const QString home = m_root.filePath(u"home"_s);
        Write(home + u"/.config/editor/settings.conf"_s, "font=mono");
        Write(home + u"/.config/editor/themes/dark.theme"_s, QByteArray(300000, 'd'));
        QDir().mkpath(home + u"/.config/editor/empty"_s);
        Write(home + u"/.editorrc"_s, "rc");
        const auto before = Tree(home);

        TAppGlobals& app = App();
        app.ApplicationDirectory = m_root.filePath(u"data"_s);
        QDir().mkpath(app.ApplicationDirectory);
        app.Options = TOptions();
        app.Options.General.PathForTempFiles = m_root.filePath(u"temp"_s);
        app.Options.Logging.PathForLogFiles = m_root.filePath(u"logs"_s);
        app.Options.Processing.IfDestinationNotAvailable_Retry_Times = 0;
        TFTPAccount account;
        account.AccName = u"Loopback"_s;
        account.Host = u"127.0.0.1"_s;
        account.Port = m_server.Port();
        account.Username = TFtpServer::User;
        account.Password = TFtpServer::Password;
        const int32_t id = AddFTPAccount(app.Options, account);
        QVERIFY(id > 0);

        QProcessEnvironment environment;
        environment.insert(u"HOME"_s, home);
        TJob_AppsData job(u"Apps"_s);
        job.Settings.AppNames = {u"Editor"_s};
        job.DestinationSettings.DestinationType = dtFTP;
        job.DestinationSettings.FTP.AccountID = id;
        job.DestinationSettings.FTP.Subfolder = u"/backups"_s;
        job.Environment = &environment;
        QVERIFY(QDir().mkpath(m_server.Root() + u"/backups"_s) && m_server.GiveToUser(m_server.Root() + u"/backups"_s));
        job.Backup();
        job.WaitForWorker();
        const QString log = job.LastJobResult.Log.join(u'\n');
        QVERIFY2(job.LastJobResult.ErrorsCount == 0 && !job.LastJobResult.Cancelled, qPrintable(log));
        QCOMPARE(job.CurrentBackupFilesProcessed.Load(), 3);
        const QString stored = m_server.Root() + u"/backups/Apps/Editor"_s;
        QVERIFY(QFileInfo(stored + u"/0/editor/empty"_s).isDir());
        QVERIFY(QFileInfo::exists(stored + u"/0/_rft.vll"_s));

        // Nothing changed: nothing is copied again.
        job.Backup();
        job.WaitForWorker();
        QCOMPARE(job.CurrentBackupFilesProcessed.Load(), 0);

        QVERIFY(QDir(home + u"/.config/editor"_s).removeRecursively());
        Write(home + u"/.editorrc"_s, "changed");
        const TAppsRestoreListing listing = job.ReadBackup();
        QVERIFY2(listing.Ok, qPrintable(listing.Error));
        job.StartRestore(listing.AppNames);
        job.WaitForWorker();
        QVERIFY2(job.LastJobResult.ErrorsCount == 0 && !job.LastJobResult.Cancelled,
                 qPrintable(job.LastJobResult.Log.join(u'\n')));
        QCOMPARE(Tree(home), before);
    }
};

QTEST_GUILESS_MAIN(TestAppsFtpRun)
#include "tst_AppsFtpRun.moc"
