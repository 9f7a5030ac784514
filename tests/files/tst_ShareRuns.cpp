// Files-and-folders runs against a real network share (a private smbd on loopback) that goes
// away in the middle of a run: the retries, the unavailable-destination policy, and a next run
// that completes and restores what the source was.

#include "../storage/TSmbServer.h"
#include "tests/storage/TFakeSleeper.h"

#include "core/settings/TAppGlobals.h"
#include "jobs/files/TJob_FilesAndFolders.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QMap<QString, QByteArray> Contents(const QString& root) {
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            tree.insert(QDir(root).relativeFilePath(file.fileName()), file.readAll());
    }
    return tree;
}

} // namespace

class TestShareRuns : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QTemporaryDir m_home;
    TSmbServer m_server;
    QString m_problem;
    TFakeSleeper m_sleeper;

    QString Src() const { return m_root.filePath(u"src"_s); }

    std::unique_ptr<TJob_FilesAndFolders> NewJob(const QString& name) {
        const QString disk = m_server.SharePath(u"share"_s) + u'/' + name;
        QDir().mkpath(disk);
        if (const passwd* user = ::getpwnam(TSmbServer::User.toUtf8().constData()))
            ::chown(QFile::encodeName(disk).constData(), user->pw_uid, user->pw_gid);
        auto job = std::make_unique<TJob_FilesAndFolders>(name);
        job->Settings.Sources.List = {Src() + u"/*"_s};
        job->SetBackupType(btIncremental);
        job->DestinationSettings.DestinationType = dtNetwork;
        job->DestinationSettings.Network.UNCPath = m_server.Url(u"share"_s) + u'/' + name;
        job->DestinationSettings.Network.Username = TSmbServer::User;
        job->DestinationSettings.Network.Password = TSmbServer::Password;
        job->Sleeper = &m_sleeper;
        return job;
    }

    void RunBackup(TJob_FilesAndFolders& job) {
        job.Backup();
        job.WaitForWorker();
    }

private Q_SLOTS:
    void initTestCase() {
        qputenv("HOME", m_home.path().toUtf8());
        m_problem = m_server.Start();
        if (!m_problem.isEmpty())
            QSKIP(qPrintable(m_problem));
        TAppGlobals& app = App();
        app.ApplicationDirectory = m_root.filePath(u"data"_s);
        QDir().mkpath(app.ApplicationDirectory);
        app.Options = TOptions();
        app.Options.General.PathForTempFiles = m_root.filePath(u"temp"_s);
        app.Options.Logging.PathForLogFiles = m_root.filePath(u"logs"_s);
        app.Options.Processing.IfDestinationNotAvailable_Retry_Times = 2;
        app.Options.Processing.IfDestinationNotAvailable_Wait_Sec = 5;
        for (int i = 0; i < 6; ++i) {
            QDir().mkpath(Src() + u"/sub"_s);
            QFile file(Src() + u"/sub/f"_s + QString::number(i) + u".bin"_s);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(200000 + i, char('a' + i)));
        }
    }

    void serverStopsInTheMiddle_data() {
        QTest::addColumn<int>("policy");
        QTest::newRow("cancel the job") << 0;
        QTest::newRow("pause and wait") << 1;
    }

    void serverStopsInTheMiddle() {
        QFETCH(int, policy);
        App().Options.Processing.IfDestinationNotAvailable_Then = policy;
        auto job = NewJob(u"Stopped"_s + QString::number(policy));
        // The server dies when the third file is about to be copied.
        int copies = 0;
        job->OnLogLine = [&](const QString& line) {
            if (line.contains(u"Copying the file:"_s) && line.contains(u"/src/"_s) && ++copies == 3)
                m_server.Kill();
        };
        m_sleeper.Calls = 0;
        job->Backup();
        bool resumed = false;
        // Pause and wait: once the run waits, the user brings the server back and resumes.
        while (policy == 1 && !resumed && job->IsActive()) {
            if (job->JobStatus == jsPaused && job->CurrentFileOperationType == atNone_WaitingForReconnection) {
                QVERIFY(m_server.Start().isEmpty());
                resumed = true;
                job->Resume();
            }
            QThread::msleep(10);
        }
        job->WaitForWorker();
        job->OnLogLine = nullptr;
        const QStringList log = job->LastJobResult.Log;
        // Each failed copy is tried again after the wait, as often as the options say.
        QVERIFY2(m_sleeper.Calls >= 2, qPrintable(log.join(u'\n')));
        QVERIFY2(!log.filter(u"ERROR:"_s).isEmpty(), qPrintable(log.join(u'\n')));
        if (policy == 0) {
            QVERIFY(job->LastJobResult.Cancelled);
            QCOMPARE(log.filter(u"destination is not accepting the file"_s).size(), 1);
            QVERIFY(m_server.Start().isEmpty());
        } else {
            QVERIFY(resumed);
            QVERIFY2(!job->LastJobResult.Cancelled, qPrintable(log.join(u'\n')));
        }

        // The next run completes; its restore gives the source back.
        RunBackup(*job);
        QVERIFY2(!job->LastJobResult.Cancelled && job->LastJobResult.ErrorsCount == 0,
                 qPrintable(job->LastJobResult.Log.join(u'\n')));
        const QString out = m_root.filePath(u"out"_s + QString::number(policy));
        QDir().mkpath(out);
        const TRestoreListing listing = job->ReadRestorePoints();
        QVERIFY2(listing.Ok, qPrintable(listing.Error));
        job->StartRestore(out, QString(), int(listing.Points.size()) - 1);
        job->WaitForWorker();
        QVERIFY2(!job->LastJobResult.Cancelled && job->LastJobResult.ErrorsCount == 0,
                 qPrintable(job->LastJobResult.Log.join(u'\n')));
        QCOMPARE(Contents(out + u"/src"_s), Contents(Src()));
    }

    // Two jobs write to two shares from two worker threads at once.
    void twoJobsOnTwoSharesAtOnce() {
        auto first = NewJob(u"First"_s);
        auto second = NewJob(u"Second"_s);
        second->DestinationSettings.Network.UNCPath = m_server.Url(u"guest"_s);
        second->DestinationSettings.Network.Username.clear();
        second->DestinationSettings.Network.Password.clear();
        first->Backup();
        second->Backup();
        first->WaitForWorker();
        second->WaitForWorker();
        for (TJob_FilesAndFolders* job : {first.get(), second.get()}) {
            QVERIFY2(!job->LastJobResult.Cancelled && job->LastJobResult.ErrorsCount == 0,
                     qPrintable(job->LastJobResult.Log.join(u'\n')));
            const QString out = m_root.filePath(u"both-"_s + job->stJobName);
            QDir().mkpath(out);
            const TRestoreListing listing = job->ReadRestorePoints();
            QVERIFY2(listing.Ok, qPrintable(listing.Error));
            job->StartRestore(out, QString(), 0);
            job->WaitForWorker();
            QCOMPARE(Contents(out + u"/src"_s), Contents(Src()));
        }
    }

    void cleanupTestCase() { m_server.Stop(); }
};

QTEST_GUILESS_MAIN(TestShareRuns)
#include "tst_ShareRuns.moc"
