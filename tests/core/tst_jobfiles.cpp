// Job files: golden files built by an independent encoder load field by field, files the
// program writes decode with that encoder's decoder, and damaged files fail cleanly.

#include "core/format/CloudAppCredentials.h"
#include "core/format/FileCipher.h"
#include "core/format/TPrimitiveReader.h"
#include "core/format/TPrimitiveWriter.h"
#include "core/model/TJobList.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/JobKinds.h"
#include "jobs/appdata/TJob_AppsData.h"
#include "jobs/driveimage/TJob_DriveImage.h"
#include "jobs/files/TJob_FilesAndFolders.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString GoldenDir = QStringLiteral(VAULTORA_SOURCE_DIR "/tests/data/jobfiles");
const QString ToolPath = QStringLiteral(VAULTORA_SOURCE_DIR "/tests/tools/vaultora_files.py");

QJsonObject ReadJson(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& data) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

// Compares every member that expected names (recursively); reports the first difference by path.
QString FirstDifference(const QJsonValue& expected, const QJsonValue& actual, const QString& at) {
    if (expected.isObject()) {
        if (!actual.isObject())
            return at + QStringLiteral(": not an object");
        const QJsonObject e = expected.toObject();
        const QJsonObject a = actual.toObject();
        for (auto it = e.begin(); it != e.end(); ++it) {
            if (it.key().startsWith(u'_'))
                continue;
            if (!a.contains(it.key()))
                return at + u'.' + it.key() + QStringLiteral(": missing");
            const QString difference = FirstDifference(it.value(), a.value(it.key()), at + u'.' + it.key());
            if (!difference.isEmpty())
                return difference;
        }
        return {};
    }
    if (expected.isDouble() && actual.isDouble())
        return expected.toDouble() == actual.toDouble()
                   ? QString()
                   : at + QStringLiteral(": %1 != %2").arg(expected.toDouble()).arg(actual.toDouble());
    if (expected != actual)
        return at + QStringLiteral(": expected ") +
               QString::fromUtf8(QJsonDocument(QJsonArray{expected}).toJson(QJsonDocument::Compact)) +
               QStringLiteral(" got ") +
               QString::fromUtf8(QJsonDocument(QJsonArray{actual}).toJson(QJsonDocument::Compact));
    return {};
}

TDestinationSettings DestinationFromJson(const QJsonObject& o) {
    TDestinationSettings d;
    d.DestinationType = TDestinationType(o[QStringLiteral("DestinationType")].toInt());
    const QJsonObject local = o[QStringLiteral("LocalOrExternalDrive")].toObject();
    d.LocalOrExternalDrive.Disk = local[QStringLiteral("Disk")].toString();
    d.LocalOrExternalDrive.Subfolder = local[QStringLiteral("Subfolder")].toString();
    const QJsonObject net = o[QStringLiteral("Network")].toObject();
    d.Network.Username = net[QStringLiteral("Username")].toString();
    d.Network.Password = net[QStringLiteral("Password")].toString();
    d.Network.UNCPath = net[QStringLiteral("UNCPath")].toString();
    const QJsonObject ftp = o[QStringLiteral("FTP")].toObject();
    d.FTP.AccountID = ftp[QStringLiteral("AccountID")].toInt();
    d.FTP.Subfolder = ftp[QStringLiteral("Subfolder")].toString();
    const QJsonObject cloud = o[QStringLiteral("Cloud")].toObject();
    d.Cloud.ServiceName = cloud[QStringLiteral("ServiceName")].toString();
    d.Cloud.Subfolder = cloud[QStringLiteral("Subfolder")].toString();
    return d;
}

QStringList Strings(const QJsonValue& value) {
    QStringList list;
    for (const auto& item : value.toArray())
        list.append(item.toString());
    return list;
}

// Runs the independent decoder on a file the program wrote.
QJsonObject Decode(const QString& path, bool remote) {
    QProcess process;
    QStringList args{ToolPath, QStringLiteral("decode-job"), path};
    if (remote)
        args.append(QStringLiteral("--remote"));
    process.start(QStringLiteral("python3"), args);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        qWarning() << process.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(process.readAllStandardOutput()).object();
}

} // namespace

class TestJobFiles : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    void ResetGlobals() {
        App().ApplicationDirectory = m_dir.path();
        App().RemoteJobFileExtension = QStringLiteral(".vlj");
        App().JobsListFileName = QStringLiteral("jobslist.vll");
        App().Options = TOptions();
        App().EventsLog.Clear();
    }

private Q_SLOTS:
    void init() { ResetGlobals(); }

    void cipherRoundTripsRandomBuffers() {
        QRandomGenerator random(1234);
        for (int size : {0, 1, 2, 3, 4, 5, 6, 255, 4096, 100000}) {
            QByteArray plain(size, Qt::Uninitialized);
            for (char& c : plain)
                c = char(random.bounded(256));
            QCOMPARE(OpenEnvelope(SealEnvelope(plain)), plain);
        }
    }

    void cipherSealsInPiecesAsInOne() {
        // A file is sealed piece by piece, each piece going on from the key the last one ended with.
        QRandomGenerator random(7);
        QByteArray plain((2 << 20) + 3, Qt::Uninitialized);
        for (char& c : plain)
            c = char(random.bounded(4)); // few distinct bytes: keys repeat often
        const QByteArray whole = SealEnvelope(plain);
        for (int piece : {1, 3, 4, 5, 4093, 1 << 20}) {
            QByteArray sealed = plain;
            uint16_t key = SealStartKey();
            for (qsizetype at = 0; at < sealed.size(); at += piece) {
                const size_t length = size_t(std::min<qsizetype>(piece, sealed.size() - at));
                key = SealStreamBytes({reinterpret_cast<uint8_t*>(sealed.data()) + at, length}, key);
            }
            QVERIFY2(sealed == whole, qPrintable(QString::number(piece)));
        }
    }

    void cipherOpensLongImagesOnTwoThreads() {
        // Long images are opened in two halves, the second from a guessed key; a guess that turns
        // out wrong (as it mostly does when it looks only one byte back) is redone.
        QRandomGenerator random(99);
        QByteArray text;
        while (text.size() < (3 << 20) + 7)
            text += "/home/user/Pictures/2024/IMG_" + QByteArray::number(random.bounded(100000)) + ".jpg\n";
        QByteArray noise((3 << 20) + 7, Qt::Uninitialized);
        for (char& c : noise)
            c = char(random.bounded(256));
        for (const QByteArray& plain : {text, noise}) {
            const QByteArray sealed = SealEnvelope(plain);
            for (size_t syncBytes : {size_t(0), size_t(1), size_t(16), size_t(64) << 10}) {
                QByteArray opened = sealed;
                OpenEnvelopeInPlace({reinterpret_cast<uint8_t*>(opened.data()), size_t(opened.size())}, syncBytes);
                QVERIFY2(opened == plain, qPrintable(QString::number(syncBytes)));
            }
        }
    }

    void cipherMatchesFixedVector() {
        const QByteArray plain("Vaultora\x00\xff", 10);
        QByteArray out(plain.size(), Qt::Uninitialized);
        QVERIFY(EncipherBuffer({reinterpret_cast<const uint8_t*>(plain.constData()), size_t(plain.size())},
                               {reinterpret_cast<uint8_t*>(out.data()), size_t(out.size())}));
        QCOMPARE(out.toHex(), QByteArray("cd038f2ea8a27404cf8a"));
        // The envelope inverts every byte of the enciphered image.
        QCOMPARE(SealEnvelope(QByteArray("\x05\x00\x00\x00", 4)).toHex(), QByteArray("61484c4e"));
    }

    void cipherRefusesUnequalLengths() {
        uint8_t in[4] = {1, 2, 3, 4};
        uint8_t out[3] = {9, 9, 9};
        QVERIFY(!EncipherBuffer(in, out));
        QVERIFY(!DecipherBuffer(in, out));
        QCOMPARE(int(out[0]), 9); // untouched
    }

    void goldenFilesLoad_data() {
        QTest::addColumn<QString>("file");
        const QStringList names = QDir(GoldenDir).entryList({QStringLiteral("*.expected.json")}, QDir::Files);
        for (const QString& name : names) {
            const QString file = name.chopped(int(QStringLiteral(".expected.json").size()));
            if (file.endsWith(QStringLiteral(".vld")) || file.endsWith(QStringLiteral(".vlj")))
                QTest::newRow(qPrintable(file)) << file;
        }
    }

    void goldenFilesLoad() {
        QFETCH(QString, file);
        const QString path = GoldenDir + u'/' + file;
        const QJsonObject expected = ReadJson(path + QStringLiteral(".expected.json"));
        QVERIFY(!expected.isEmpty());
        const int kind = expected[QStringLiteral("Kind")].toInt();
        QCOMPARE(GetJobFileKind(path), kind);
        std::unique_ptr<TJob> job = CreateJobOfKind(kind, expected[QStringLiteral("stJobName")].toString());
        QVERIFY(job);

        if (file.endsWith(QStringLiteral(".vld"))) {
            QVERIFY(job->LoadLocalJobFile(path));
        } else {
            const QJsonObject remote = expected[QStringLiteral("_Remote")].toObject();
            job->DestinationSettings = DestinationFromJson(remote[QStringLiteral("FoundAt")].toObject());
            bool changed = false;
            if (auto* files = dynamic_cast<TJob_FilesAndFolders*>(job.get())) {
                TRemoteBackupState state;
                QVERIFY(files->LoadRemoteJobFile(path, true, state, &changed));
                const QJsonObject lists = remote[QStringLiteral("Lists")].toObject();
                QCOMPARE(state.MainBackupList, Strings(lists[QStringLiteral("MainBackupList")]));
                QCOMPARE(state.PreviousLocalFilesList, Strings(lists[QStringLiteral("PreviousLocalFilesList")]));
                QCOMPARE(state.PreviousLocalFilesTimeList,
                         Strings(lists[QStringLiteral("PreviousLocalFilesTimeList")]));
                QCOMPARE(state.PreviousLocalDirsList, Strings(lists[QStringLiteral("PreviousLocalDirsList")]));
                QCOMPARE(state.SizeOfLastFullBackup, int64_t(lists[QStringLiteral("SizeOfLastFullBackup")].toDouble()));
                QCOMPARE(state.SizeOfAllIncrementsOrLastDifferentialCopy,
                         int64_t(lists[QStringLiteral("SizeOfAllIncrementsOrLastDifferentialCopy")].toDouble()));
            } else if (auto* drive = dynamic_cast<TJob_DriveImage*>(job.get())) {
                QVERIFY(drive->LoadRemoteJobFile(path, true, &changed));
            } else if (auto* apps = dynamic_cast<TJob_AppsData*>(job.get())) {
                QVERIFY(apps->LoadRemoteJobFile(path, true, &changed));
                const QJsonArray records = remote[QStringLiteral("Apps")].toArray();
                QCOMPARE(apps->RemoteAppsData.size(), records.size());
                for (int i = 0; i < records.size(); ++i) {
                    const QJsonObject r = records[i].toObject();
                    QCOMPARE(apps->RemoteAppsData[i].Name, r[QStringLiteral("Name")].toString());
                    QCOMPARE(apps->RemoteAppsData[i].Category, r[QStringLiteral("Category")].toString());
                    QCOMPARE(apps->RemoteAppsData[i].Folders, Strings(r[QStringLiteral("Folders")]));
                    QCOMPARE(apps->RemoteAppsData[i].RegistryPaths, Strings(r[QStringLiteral("RegistryPaths")]));
                }
            }
            QCOMPARE(changed, remote[QStringLiteral("Warning")].toBool());
        }

        // Passwords come from local job files only: a stored job file's are never taken (a job opened
        // from its storage asks for them), so after a stored file the job has the ones it had: the
        // network password of the place it was found at, and no ZIP password.
        const bool local = file.endsWith(QStringLiteral(".vld"));
        const QJsonObject secrets = expected[QStringLiteral("_Secrets")].toObject();
        const QString networkPassword = local ? secrets[QStringLiteral("Network.Password")].toString()
                                              : expected[QStringLiteral("_Remote")]
                                                    .toObject()[QStringLiteral("FoundAt")]
                                                    .toObject()[QStringLiteral("Network")]
                                                    .toObject()[QStringLiteral("Password")]
                                                    .toString();
        const QString zipPassword = local ? secrets[QStringLiteral("Compression.Password")].toString() : QString();
        QJsonObject expectedJob = expected;
        if (!local) {
            QJsonObject destination = expectedJob[QStringLiteral("DestinationSettings")].toObject();
            QJsonObject network = destination[QStringLiteral("Network")].toObject();
            network[QStringLiteral("PasswordIsSet")] = !networkPassword.isEmpty();
            destination[QStringLiteral("Network")] = network;
            expectedJob[QStringLiteral("DestinationSettings")] = destination;
            QJsonObject settings = expectedJob[QStringLiteral("Settings")].toObject();
            if (settings.contains(QStringLiteral("Compression"))) {
                QJsonObject compression = settings[QStringLiteral("Compression")].toObject();
                compression[QStringLiteral("PasswordIsSet")] = false;
                settings[QStringLiteral("Compression")] = compression;
                expectedJob[QStringLiteral("Settings")] = settings;
            }
        }
        const QString difference = FirstDifference(expectedJob, job->ToJson(), QStringLiteral("job"));
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QCOMPARE(job->DestinationSettings.Network.Password, networkPassword);
        if (auto* files = dynamic_cast<TJob_FilesAndFolders*>(job.get()))
            QCOMPARE(files->Settings.Compression.Password, zipPassword);
        QVERIFY(App().EventsLog.PendingLines().isEmpty());
    }

    void credentialsAndTokenFilesLoad() {
        App().ProgramDataDirectory = GoldenDir;
        LoadCloudAppCredentials();
        const QJsonArray expected =
            QJsonDocument::fromJson(ReadAll(GoldenDir + QStringLiteral("/mcs.dt.expected.json"))).array();
        QCOMPARE(App().DropboxClientId, expected[0].toString());
        QCOMPARE(App().DropboxClientSecret, expected[1].toString());
        QCOMPARE(App().GoogleClientId, expected[2].toString());
        QCOMPARE(App().GoogleClientSecret, expected[3].toString());
        QCOMPARE(App().OneDriveClientId, expected[4].toString());
        QCOMPARE(LoadEncipheredText(GoldenDir + QStringLiteral("/rt_g.dt")), QStringLiteral("1//refresh-token-ÄÖÜ"));
        QCOMPARE(LoadEncipheredText(m_dir.filePath(QStringLiteral("absent.dt"))), QString());
        QVERIFY(App().EventsLog.PendingLines().isEmpty());
    }

    void credentialsOfTheUserComeFirst() {
        const QJsonArray expected =
            QJsonDocument::fromJson(ReadAll(GoldenDir + QStringLiteral("/mcs.dt.expected.json"))).array();
        // A user's own file (as vaultora-mcs writes it) in the data folder wins over the shipped one.
        const QString own = m_dir.filePath(QStringLiteral("mcs.dt"));
        QVERIFY(WriteEncipheredFile(
            own, CloudAppCredentialsImage(QStringLiteral("my key"), QStringLiteral("my secret"), {}, {}, {})));
        App().ProgramDataDirectory = GoldenDir;
        LoadCloudAppCredentials();
        QFile::remove(own);
        QCOMPARE(App().DropboxClientId, QStringLiteral("my key"));
        QCOMPARE(App().DropboxClientSecret, QStringLiteral("my secret"));
        QCOMPARE(App().GoogleClientId, QString());
        LoadCloudAppCredentials();
        QCOMPARE(App().DropboxClientId, expected[0].toString());
    }

    void writtenFilesDecodeIndependently() {
        TJob_FilesAndFolders job(QStringLiteral("Written"));
        job.LastJobResult.StartTime = 46001.5;
        job.LastJobResult.EndTime = 46001.75;
        job.LastJobResult.ErrorsCount = 300; // more than a byte
        job.LastJobResult.WarningsCount = 2;
        job.LogList = {QStringLiteral("2025-12-10 10;00;00")};
        job.BackupHistory = {QStringLiteral("line one"), QStringLiteral("line two")};
        job.Settings.Sources.List = {QStringLiteral("/srv/data/*"), QStringLiteral("/etc/hosts")};
        job.Settings.Sources.FilterType = ftIncludeOnly;
        job.Settings.Sources.Extensions = QStringLiteral("txt;doc");
        job.SetBackupType(btSynchronization);
        job.Settings.Backup.NumberFullCopiesToKeep = 0;
        job.Settings.Backup.RemoveOldBackupsBeforeStartingNewBackup = true;
        job.Settings.Compression.Password = QStringLiteral("pw ü");
        job.Settings.Compression.EncryptionMethod = emPkzipClassic;
        job.DestinationSettings.DestinationType = dtFTP;
        job.DestinationSettings.FTP.AccountID = 12;
        job.SchedulingSettings.SchedulingType = stDaysOfMonth;
        job.SchedulingSettings.DaysOfMonth[31] = true;
        job.SchedulingSettings.TimeTable = {QStringLiteral("01:02:03")};

        const QString local = m_dir.filePath(QStringLiteral("Written.vld"));
        QVERIFY(job.SaveLocalJobFile(local));
        QCOMPARE(QFileInfo(local).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        const QJsonObject decoded = Decode(local, false);
        QCOMPARE(decoded[QStringLiteral("Version")].toInt(), 5);
        QCOMPARE(decoded[QStringLiteral("Kind")].toInt(), 1);
        const QJsonObject result = decoded[QStringLiteral("Result")].toObject();
        QCOMPARE(result[QStringLiteral("StartTime")].toDouble(), 46001.5);
        QCOMPARE(result[QStringLiteral("ErrorsCount")].toInt(), 300);
        QCOMPARE(Strings(result[QStringLiteral("BackupHistory")]), job.BackupHistory);
        const QJsonObject settings = decoded[QStringLiteral("Settings")].toObject();
        QCOMPARE(Strings(settings[QStringLiteral("Sources")].toObject()[QStringLiteral("List")]),
                 job.Settings.Sources.List);
        QCOMPARE(settings[QStringLiteral("Backup")].toObject()[QStringLiteral("BackupType")].toInt(), 3);
        QCOMPARE(settings[QStringLiteral("Backup")]
                     .toObject()[QStringLiteral("RemoveOldBackupsBeforeStartingNewBackup")]
                     .toBool(),
                 true);
        QCOMPARE(settings[QStringLiteral("Compression")].toObject()[QStringLiteral("Password")].toString(),
                 QStringLiteral("pw ü"));
        QCOMPARE(settings[QStringLiteral("Compression")].toObject()[QStringLiteral("EncryptionMethod")].toInt(), 3);
        const QJsonObject dest = decoded[QStringLiteral("DestinationSettings")].toObject();
        QCOMPARE(dest[QStringLiteral("DestinationType")].toInt(), 2);
        QCOMPARE(dest[QStringLiteral("FTP")].toObject()[QStringLiteral("AccountID")].toInt(), 12);
        const QJsonObject sched = decoded[QStringLiteral("SchedulingSettings")].toObject();
        QCOMPARE(sched[QStringLiteral("SchedulingType")].toInt(), 2);
        QCOMPARE(sched[QStringLiteral("DaysOfMonth")].toArray().last().toBool(), true);
        QCOMPARE(Strings(sched[QStringLiteral("TimeTable")]), job.SchedulingSettings.TimeTable);

        TRemoteBackupState state;
        state.MainBackupList = {QStringLiteral("Syncronization)")};
        state.PreviousLocalFilesList = {QStringLiteral("a/b")};
        state.PreviousLocalFilesTimeList = {QStringLiteral("20250101000000")};
        state.SizeOfLastFullBackup = 7'000'000'000;
        const QString remote = m_dir.filePath(QStringLiteral("Written.vlj"));
        QVERIFY(job.SaveRemoteJobFile(remote, state));
        const QJsonObject decodedRemote = Decode(remote, true);
        QCOMPARE(Strings(decodedRemote[QStringLiteral("MainBackupList")]), state.MainBackupList);
        QCOMPARE(Strings(decodedRemote[QStringLiteral("PreviousLocalFilesList")]), state.PreviousLocalFilesList);
        QCOMPARE(decodedRemote[QStringLiteral("SizeOfLastFullBackup")].toDouble(), 7e9);
        QCOMPARE(Strings(decodedRemote[QStringLiteral("Settings")]
                             .toObject()[QStringLiteral("Sources")]
                             .toObject()[QStringLiteral("List")]),
                 job.Settings.Sources.List);

        TJob_DriveImage drive(QStringLiteral("Drive"));
        drive.Settings.SourceDrivesList = {QStringLiteral("/")};
        drive.Settings.NumberOfBackupVersionsToKeep = QStringLiteral("9");
        QVERIFY(drive.SaveLocalJobFile(m_dir.filePath(QStringLiteral("Drive.vld"))));
        const QJsonObject decodedDrive = Decode(m_dir.filePath(QStringLiteral("Drive.vld")), false);
        QCOMPARE(decodedDrive[QStringLiteral("Version")].toInt(), 4);
        QCOMPARE(decodedDrive[QStringLiteral("Kind")].toInt(), 2);
        QCOMPARE(decodedDrive[QStringLiteral("Settings")]
                     .toObject()[QStringLiteral("NumberOfBackupVersionsToKeep")]
                     .toString(),
                 QStringLiteral("9"));

        TJob_AppsData apps(QStringLiteral("Apps"));
        apps.Settings.AppNames = {QStringLiteral("B"), QStringLiteral("A")};
        const QList<TAppRecord> definitions{{QStringLiteral("A"), QStringLiteral("Games"), {QStringLiteral("f")}, {}},
                                            {QStringLiteral("C"), QStringLiteral("Other"), {}, {}},
                                            {QStringLiteral("B"), QStringLiteral("Office"), {}, {QStringLiteral("r")}}};
        QVERIFY(apps.SaveRemoteJobFile(m_dir.filePath(QStringLiteral("Apps.vlj")), definitions));
        const QJsonObject decodedApps = Decode(m_dir.filePath(QStringLiteral("Apps.vlj")), true);
        const QJsonArray records = decodedApps[QStringLiteral("Apps")].toArray();
        // The chosen applications in the order of the definitions.
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0].toObject()[QStringLiteral("Name")].toString(), QStringLiteral("A"));
        QCOMPARE(records[1].toObject()[QStringLiteral("Name")].toString(), QStringLiteral("B"));
    }

    void storedJobFilesHoldNoPasswords() {
        // The stored job file lies next to the backups, where whoever can read them can decipher it.
        const QString zipPassword = QStringLiteral("Zip-Secret-7731");
        const QString netPassword = QStringLiteral("Net-Secret-4409");
        auto holds = [](const QString& path, const QString& text) {
            QByteArray plain;
            if (ReadEncipheredFile(path, plain) != TEncipheredReadResult::Ok)
                return true; // unreadable counts as a failure of the check
            const QByteArray utf16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
            return plain.contains(utf16) || plain.contains(text.toUtf8());
        };
        auto withSecrets = [&](TJob& job) {
            job.DestinationSettings.DestinationType = dtNetwork;
            job.DestinationSettings.Network.Username = QStringLiteral("backup");
            job.DestinationSettings.Network.Password = netPassword;
            job.DestinationSettings.Network.UNCPath = QStringLiteral("//nas/share/backups");
        };

        TJob_FilesAndFolders files(QStringLiteral("Secret"));
        withSecrets(files);
        files.Settings.Compression.Enabled = true;
        files.Settings.Compression.ProtectWithPassword = true;
        files.Settings.Compression.Password = zipPassword;
        const QString local = m_dir.filePath(QStringLiteral("Secret.vld"));
        const QString stored = m_dir.filePath(QStringLiteral("Secret.vlj"));
        QVERIFY(files.SaveLocalJobFile(local));
        QVERIFY(files.SaveRemoteJobFile(stored, TRemoteBackupState{}));
        QVERIFY(holds(local, zipPassword) && holds(local, netPassword));
        QVERIFY(!holds(stored, zipPassword));
        QVERIFY(!holds(stored, netPassword));

        // Read back by the job that wrote it: its passwords stay and the destination is the same.
        TRemoteBackupState state;
        bool changed = true;
        QVERIFY(files.LoadRemoteJobFile(stored, true, state, &changed));
        QVERIFY(!changed);
        QCOMPARE(files.Settings.Compression.Password, zipPassword);
        QCOMPARE(files.DestinationSettings.Network.Password, netPassword);
        // Opened from its storage, a job has no password.
        TJob_FilesAndFolders opened(QStringLiteral("Secret"));
        QVERIFY(opened.LoadRemoteJobFile(stored, true, state, &changed));
        QVERIFY(opened.Settings.Compression.Password.isEmpty());
        QVERIFY(opened.DestinationSettings.Network.Password.isEmpty());
        QVERIFY(opened.Settings.Compression.ProtectWithPassword);

        TJob_DriveImage drive(QStringLiteral("SecretDrive"));
        withSecrets(drive);
        QVERIFY(drive.SaveRemoteJobFile(m_dir.filePath(QStringLiteral("SecretDrive.vlj"))));
        QVERIFY(!holds(m_dir.filePath(QStringLiteral("SecretDrive.vlj")), netPassword));
        changed = true;
        QVERIFY(drive.LoadRemoteJobFile(m_dir.filePath(QStringLiteral("SecretDrive.vlj")), true, &changed));
        QVERIFY(!changed);
        QCOMPARE(drive.DestinationSettings.Network.Password, netPassword);

        TJob_AppsData apps(QStringLiteral("SecretApps"));
        withSecrets(apps);
        QVERIFY(apps.SaveRemoteJobFile(m_dir.filePath(QStringLiteral("SecretApps.vlj")), {}));
        QVERIFY(!holds(m_dir.filePath(QStringLiteral("SecretApps.vlj")), netPassword));
    }

    void savedJobReadsBackEqual() {
        TJob_FilesAndFolders job(QStringLiteral("Round"));
        job.Settings.Sources.List = {QStringLiteral("/a/*")};
        job.SchedulingSettings.TimeTable = {};
        job.DestinationSettings.LocalOrExternalDrive.Disk = QStringLiteral("/mnt");
        const QString path = m_dir.filePath(QStringLiteral("Round.vld"));
        QVERIFY(job.SaveLocalJobFile(path));
        TJob_FilesAndFolders back(QStringLiteral("Round"));
        QVERIFY(back.LoadLocalJobFile(path));
        QCOMPARE(back.Settings, job.Settings);
        QCOMPARE(back.SchedulingSettings, job.SchedulingSettings);
        QCOMPARE(back.DestinationSettings, job.DestinationSettings);
    }

    void damagedFilesFailCleanly_data() {
        QTest::addColumn<int>("cut");
        QTest::addColumn<QByteArray>("replacement"); // plain bytes put at offset 8 (after the header)
        QTest::newRow("empty file") << 0 << QByteArray();
        QTest::newRow("header only") << 8 << QByteArray();
        QTest::newRow("cut in the result block") << 30 << QByteArray();
        QTest::newRow("cut in a text") << 120 << QByteArray();
        QTest::newRow("one byte short") << -1 << QByteArray();
        // Start time, end time, cancelled, counts, then a log list claiming 2^31-1 entries.
        QTest::newRow("absurd list count")
            << 0 << (QByteArray(8 + 8 + 1 + 4 + 4, '\0') + QByteArray("\xff\xff\xff\x7f", 4));
        QTest::newRow("negative text length")
            << 0
            << (QByteArray(8 + 8 + 1 + 4 + 4, '\0') + QByteArray("\x01\x00\x00\x00", 4) +
                QByteArray("\xfe\xff\xff\xff", 4));
    }

    void damagedFilesFailCleanly() {
        QFETCH(int, cut);
        QFETCH(QByteArray, replacement);
        QByteArray plain = OpenEnvelope(ReadAll(GoldenDir + QStringLiteral("/files-v5.vld")));
        if (!replacement.isEmpty())
            plain = plain.left(8) + replacement;
        else if (cut >= 0)
            plain = plain.left(cut);
        else
            plain.chop(1);
        const QString path = m_dir.filePath(QStringLiteral("Damaged.vld"));
        WriteAll(path, SealEnvelope(plain));
        TJob_FilesAndFolders job(QStringLiteral("Damaged"));
        QVERIFY(!job.LoadLocalJobFile(path));
        const QStringList events = App().EventsLog.PendingLines();
        QCOMPARE(events.size(), 1);
        QVERIFY2(events.first().endsWith(QStringLiteral(": Error loading job \"Damaged\". Code: 1")),
                 qPrintable(events.first()));
    }

    void fieldsReadBeforeAFailureStay() {
        QByteArray plain = OpenEnvelope(ReadAll(GoldenDir + QStringLiteral("/files-v5.vld")));
        plain.chop(3); // inside the scheduling block
        const QString path = m_dir.filePath(QStringLiteral("Cut.vld"));
        WriteAll(path, SealEnvelope(plain));
        TJob_FilesAndFolders job(QStringLiteral("Cut"));
        QVERIFY(!job.LoadLocalJobFile(path));
        QCOMPARE(job.Settings.Sources.List.size(), 3);
        QCOMPARE(job.Settings.Compression.Password, QStringLiteral("zip-Pässword"));
    }

    void jobFileKind_data() {
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("event");
        QTest::newRow("version 3 has no kind code") << QByteArray("\x03\x00\x00\x00", 4) << 1 << QString();
        QTest::newRow("version 4 kind 2") << QByteArray("\x04\x00\x00\x00\x02\x00\x00\x00", 8) << 2 << QString();
        QTest::newRow("version 4 unknown kind") << QByteArray("\x04\x00\x00\x00\x09\x00\x00\x00", 8) << 9 << QString();
        QTest::newRow("truncated header") << QByteArray("\x04\x00\x00\x00\x02", 5) << 0 << QStringLiteral("Code: 1");
    }

    void jobFileKind() {
        QFETCH(QByteArray, plain);
        QFETCH(int, kind);
        QFETCH(QString, event);
        const QString path = m_dir.filePath(QStringLiteral("kind.vld"));
        WriteAll(path, SealEnvelope(plain));
        QCOMPARE(GetJobFileKind(path), kind);
        QCOMPARE(GetJobFileKind(m_dir.filePath(QStringLiteral("missing.vld"))), 0);
        const QStringList events = App().EventsLog.PendingLines();
        if (event.isEmpty())
            QVERIFY(events.isEmpty());
        else
            QVERIFY(events.size() == 1 && events.first().endsWith(event));
    }

    void jobsListLoadsKnownKindsAndSavesWithBom() {
        // Three names: a files job, a job whose kind is unknown (left out), a missing file (left out).
        TJob_FilesAndFolders a(QStringLiteral("Älpha"));
        QVERIFY(a.SaveLocalJobFile(a.LocalJobFilePath()));
        WriteAll(m_dir.filePath(QStringLiteral("Weird.vld")),
                 SealEnvelope(QByteArray("\x04\x00\x00\x00\x07\x00\x00\x00", 8)));
        TJob_DriveImage c(QStringLiteral("Gamma"));
        QVERIFY(c.SaveLocalJobFile(c.LocalJobFilePath()));
        WriteAll(m_dir.filePath(QStringLiteral("jobslist.vll")),
                 QByteArray("\xEF\xBB\xBF") + QStringLiteral("Älpha\r\nWeird\r\nMissing\r\nGamma\r\n").toUtf8());

        TJobList list(&CreateJobOfKind);
        QVERIFY(list.LoadJobsListAndJobs());
        QCOMPARE(list.Count(), 2);
        QCOMPARE(list.At(0)->stJobName, QStringLiteral("Älpha"));
        QCOMPARE(list.At(1)->Kind(), TJobKind::DriveImage);
        QVERIFY(list.Find(QStringLiteral("älpha")) == nullptr);
        QVERIFY(list.FindIgnoringCase(QStringLiteral("älpha")) == list.At(0));

        QVERIFY(list.Move(1, -1));
        QVERIFY(!list.Move(0, -1));
        QVERIFY(list.SaveJobsList());
        QCOMPARE(ReadAll(m_dir.filePath(QStringLiteral("jobslist.vll"))),
                 QByteArray("\xEF\xBB\xBF") + QStringLiteral("Gamma\r\nÄlpha\r\n").toUtf8());

        TJobList none(&CreateJobOfKind);
        App().ApplicationDirectory = m_dir.filePath(QStringLiteral("nowhere"));
        QVERIFY(!none.LoadJobsListAndJobs());
    }
};

QTEST_GUILESS_MAIN(TestJobFiles)
#include "tst_jobfiles.moc"
