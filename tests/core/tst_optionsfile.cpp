// The options file against files written by an independent generator (tests/tools/options_file.py)
// for the format versions the program must read, and the program's own file read back by it.

#include "core/format/FileCipher.h"
#include "core/format/OptionsFile.h"
#include "core/settings/TAppGlobals.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <functional>
#include <map>
#include <sys/stat.h>

namespace {

const QString Tool = QStringLiteral(VAULTORA_SOURCE_DIR "/tests/tools/options_file.py");
const QString Record = QStringLiteral(VAULTORA_SOURCE_DIR "/tests/data/options/record.json");
// Each read condition of the file changes between two neighbours of this list.
constexpr int Versions[] = {3, 4, 5, 6, 7, 8};

using TAccessor = std::function<QJsonValue(const TOptions&)>;

QJsonArray AccountsJson(const TOptions& o) {
    QJsonArray array;
    for (const TFTPAccount& a : o.FTPAccounts)
        array.append(QJsonObject{{QStringLiteral("ID"), a.ID},
                                 {QStringLiteral("AccName"), a.AccName},
                                 {QStringLiteral("Host"), a.Host},
                                 {QStringLiteral("Port"), a.Port},
                                 {QStringLiteral("Username"), a.Username},
                                 {QStringLiteral("Password"), a.Password},
                                 {QStringLiteral("PassiveMode"), a.PassiveMode},
                                 {QStringLiteral("FTPS"), a.FTPS}});
    return array;
}

// Every stored field by its path in the generator's record.
const std::map<QString, TAccessor>& Fields() {
    static const std::map<QString, TAccessor> fields{
        {QStringLiteral("Language.LanguageOfInterface"), [](auto& o) { return o.Language.LanguageOfInterface; }},
        {QStringLiteral("General.RunProgramAtLogon"), [](auto& o) { return o.General.RunProgramAtLogon; }},
        {QStringLiteral("General.ProtectConfigurationbyPassword"),
         [](auto& o) { return o.General.ProtectConfigurationbyPassword; }},
        {QStringLiteral("General.BlockSleepModeifJobIsScheduled"),
         [](auto& o) { return o.General.BlockSleepModeifJobIsScheduled; }},
        {QStringLiteral("General.strProtectConfiguration_Password"),
         [](auto& o) { return o.General.strProtectConfiguration_Password; }},
        {QStringLiteral("General.ProcessPriority"), [](auto& o) { return o.General.ProcessPriority; }},
        {QStringLiteral("General.PathForTempFiles"), [](auto& o) { return o.General.PathForTempFiles; }},
        {QStringLiteral("Logging.MaxNumberOfLogsForEachJob"),
         [](auto& o) { return o.Logging.MaxNumberOfLogsForEachJob; }},
        {QStringLiteral("Logging.MaxNumberOfLinesInHistory"),
         [](auto& o) { return o.Logging.MaxNumberOfLinesInHistory; }},
        {QStringLiteral("Logging.MaxNumberOfLinesInEventsLog"),
         [](auto& o) { return o.Logging.MaxNumberOfLinesInEventsLog; }},
        {QStringLiteral("Logging.DontLogCopyingInternalFiles"),
         [](auto& o) { return o.Logging.DontLogCopyingInternalFiles; }},
        {QStringLiteral("Logging.PathForLogFiles"), [](auto& o) { return o.Logging.PathForLogFiles; }},
        {QStringLiteral("Processing.RunOnlyOneJobAtATime"), [](auto& o) { return o.Processing.RunOnlyOneJobAtATime; }},
        {QStringLiteral("Processing.IfDestinationNotAvailable_Retry_Times"),
         [](auto& o) { return o.Processing.IfDestinationNotAvailable_Retry_Times; }},
        {QStringLiteral("Processing.IfDestinationNotAvailable_Wait_Sec"),
         [](auto& o) { return o.Processing.IfDestinationNotAvailable_Wait_Sec; }},
        {QStringLiteral("Processing.IfDestinationNotAvailable_Then"),
         [](auto& o) { return o.Processing.IfDestinationNotAvailable_Then; }},
        {QStringLiteral("Processing.RemovePreviousBackupIfCancelled"),
         [](auto& o) { return o.Processing.RemovePreviousBackupIfCancelled; }},
        {QStringLiteral("Processing.PreventOtherAppsFromWritingDuringZipping"),
         [](auto& o) { return o.Processing.PreventOtherAppsFromWritingDuringZipping; }},
        {QStringLiteral("Processing.DontUseBufferingForCopyOperations"),
         [](auto& o) { return o.Processing.DontUseBufferingForCopyOperations; }},
        {QStringLiteral("Processing.SkipHiddenSystemFiles"),
         [](auto& o) { return o.Processing.SkipHiddenSystemFiles; }},
        {QStringLiteral("Processing.SkipLockedFiles"), [](auto& o) { return o.Processing.SkipLockedFiles; }},
        {QStringLiteral("ExcludedDirs"), [](auto& o) { return QJsonArray::fromStringList(o.ExcludedDirs); }},
        {QStringLiteral("Email.SendEmailNotificationWhenFinishedBackup"),
         [](auto& o) { return o.Email.SendEmailNotificationWhenFinishedBackup; }},
        {QStringLiteral("Email.SendOnlyIfJobIscancelledDueToErrors"),
         [](auto& o) { return o.Email.SendOnlyIfJobIscancelledDueToErrors; }},
        {QStringLiteral("Email.RecipientEmail"), [](auto& o) { return o.Email.RecipientEmail; }},
        {QStringLiteral("Email.SMTPHost"), [](auto& o) { return o.Email.SMTPHost; }},
        {QStringLiteral("Email.SMTPPort"), [](auto& o) { return o.Email.SMTPPort; }},
        {QStringLiteral("Email.Username"), [](auto& o) { return o.Email.Username; }},
        {QStringLiteral("Email.Password"), [](auto& o) { return o.Email.Password; }},
        {QStringLiteral("Email.Security"), [](auto& o) { return o.Email.Security; }},
        {QStringLiteral("Proxy.Enabled"), [](auto& o) { return o.Proxy.Enabled; }},
        {QStringLiteral("Proxy.PrType"), [](auto& o) { return o.Proxy.PrType; }},
        {QStringLiteral("Proxy.Host"), [](auto& o) { return o.Proxy.Host; }},
        {QStringLiteral("Proxy.Port"), [](auto& o) { return o.Proxy.Port; }},
        {QStringLiteral("Proxy.Username"), [](auto& o) { return o.Proxy.Username; }},
        {QStringLiteral("Proxy.Password"), [](auto& o) { return o.Proxy.Password; }},
        {QStringLiteral("LastFTPAccountID"), [](auto& o) { return o.LastFTPAccountID; }},
        {QStringLiteral("FTPAccounts"), [](auto& o) { return AccountsJson(o); }},
    };
    return fields;
}

QJsonValue ValueAt(const QJsonObject& record, const QString& path) {
    const QStringList parts = path.split(u'.');
    return parts.size() == 1 ? record.value(parts[0]) : record.value(parts[0]).toObject().value(parts[1]);
}

QByteArray Compact(const QJsonValue& value) {
    return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
}

QJsonObject ReadJson(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return QJsonDocument::fromJson(file.readAll()).object();
}

QByteArray RunTool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(VAULTORA_PYTHON), QStringList{Tool} + arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        qFatal("options_file.py failed: %s", process.readAllStandardError().constData());
    return process.readAllStandardOutput();
}

// Values the loader must not keep from before: the three flags that older files lack are set the
// other way, so a loader that skips them instead of applying their defaults is caught.
TOptions Prefilled() {
    TOptions o;
    o.General.BlockSleepModeifJobIsScheduled = false;
    o.Processing.IfDestinationNotAvailable_Then = 1;
    o.Processing.RemovePreviousBackupIfCancelled = false;
    o.Processing.SkipLockedFiles = true;
    o.ExcludedDirs = QStringList{QStringLiteral("/stale")};
    return o;
}

} // namespace

class TestOptionsFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QJsonObject m_record;
    std::map<int, TOptions> m_loaded;

    QString Generate(int version, const QString& name) {
        const QString path = m_dir.filePath(name);
        RunTool({QStringLiteral("encode"), QStringLiteral("--version"), QString::number(version), Record, path});
        return path;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_record = ReadJson(Record);
        for (int version : Versions) {
            App().EventsLog.Clear();
            TOptions options = Prefilled();
            QVERIFY(LoadOptions(Generate(version, QStringLiteral("v%1.vlo").arg(version)), options));
            QCOMPARE(App().EventsLog.PendingLines(), QStringList());
            m_loaded[version] = options;
        }
    }

    void loadsEveryField_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QByteArray>("expected");
        // What files of that version do not hold, and what the program must use instead.
        const std::map<std::pair<int, QString>, QJsonValue> absent{
            {{3, QStringLiteral("General.BlockSleepModeifJobIsScheduled")}, true},
            {{3, QStringLiteral("Processing.IfDestinationNotAvailable_Then")}, 0},
            {{3, QStringLiteral("Processing.RemovePreviousBackupIfCancelled")}, true},
            {{3, QStringLiteral("ExcludedDirs")}, QJsonArray()},
            {{4, QStringLiteral("General.BlockSleepModeifJobIsScheduled")}, true},
            {{4, QStringLiteral("Processing.IfDestinationNotAvailable_Then")}, 0},
            {{4, QStringLiteral("Processing.RemovePreviousBackupIfCancelled")}, true},
            {{4, QStringLiteral("ExcludedDirs")}, QJsonArray()},
            {{5, QStringLiteral("General.BlockSleepModeifJobIsScheduled")}, true},
            {{5, QStringLiteral("Processing.IfDestinationNotAvailable_Then")}, 0},
            {{5, QStringLiteral("Processing.RemovePreviousBackupIfCancelled")}, true},
            {{6, QStringLiteral("General.BlockSleepModeifJobIsScheduled")}, true},
            {{6, QStringLiteral("Processing.RemovePreviousBackupIfCancelled")}, true},
            {{7, QStringLiteral("General.BlockSleepModeifJobIsScheduled")}, true},
        };
        for (int version : Versions) {
            for (const auto& [field, accessor] : Fields()) {
                const auto override = absent.find({version, field});
                const QJsonValue expected = override != absent.end() ? override->second : ValueAt(m_record, field);
                QVERIFY2(!expected.isUndefined(), qPrintable(field));
                QTest::addRow("v%d %s", version, qPrintable(field)) << version << field << Compact(expected);
            }
        }
    }
    void loadsEveryField() {
        QFETCH(int, version);
        QFETCH(QString, field);
        QFETCH(QByteArray, expected);
        QCOMPARE(Compact(Fields().at(field)(m_loaded.at(version))), expected);
    }

    // Before version 4 one number held "no proxy" (0) or the proxy type + 1.
    void version3ProxyNumber_data() {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("type");
        QTest::addRow("stored 0: no proxy, type kept") << false << 2;
        QTest::addRow("stored 1: HTTP") << true << 0;
        QTest::addRow("stored 2: SOCKS 4") << true << 1;
        QTest::addRow("stored 3: SOCKS 5") << true << 2;
    }
    void version3ProxyNumber() {
        QFETCH(bool, enabled);
        QFETCH(int, type);
        QJsonObject record = m_record;
        QJsonObject proxy = record.value(QStringLiteral("Proxy")).toObject();
        proxy[QStringLiteral("Enabled")] = enabled;
        proxy[QStringLiteral("PrType")] = type;
        record[QStringLiteral("Proxy")] = proxy;
        const QString json = m_dir.filePath(QStringLiteral("proxy.json"));
        QFile file(json);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QJsonDocument(record).toJson());
        file.close();
        const QString path = m_dir.filePath(QStringLiteral("proxy.vlo"));
        RunTool({QStringLiteral("encode"), QStringLiteral("--version"), QStringLiteral("3"), json, path});
        TOptions options;
        options.Proxy.PrType = 2; // what a disabled proxy leaves alone
        QVERIFY(LoadOptions(path, options));
        QCOMPARE(options.Proxy.Enabled, enabled);
        QCOMPARE(options.Proxy.PrType, type);
    }

    void missingFileIsNoError() {
        App().EventsLog.Clear();
        TOptions options = Prefilled();
        QVERIFY(!LoadOptions(m_dir.filePath(QStringLiteral("none.vlo")), options));
        QCOMPARE(App().EventsLog.PendingLines(), QStringList());
        QVERIFY(options == Prefilled());
    }

    void unopenableFileIsCode2() {
        const QString path = m_dir.filePath(QStringLiteral("folder.vlo"));
        QVERIFY(QDir().mkpath(path));
        App().EventsLog.Clear();
        TOptions options = Prefilled();
        QVERIFY(!LoadOptions(path, options));
        const QStringList lines = App().EventsLog.PendingLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().endsWith(QStringLiteral(": Error loading options. Code: 2")), qPrintable(lines.first()));
    }

    // A damaged file fails with Code 1; what was read before the damage stays read.
    void truncatedFileIsCode1() {
        QFile full(m_dir.filePath(QStringLiteral("v8.vlo")));
        QVERIFY(full.open(QIODevice::ReadOnly));
        // Version, "fr", and the first three Booleans; the password's length is cut.
        const QByteArray cut = full.readAll().left(4 + 4 + 2 * 2 + 3 + 2);
        const QString path = m_dir.filePath(QStringLiteral("cut.vlo"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(cut);
        file.close();
        App().EventsLog.Clear();
        TOptions options;
        QVERIFY(!LoadOptions(path, options));
        QCOMPARE(options.Language.LanguageOfInterface, QStringLiteral("fr"));
        QCOMPARE(options.General.RunProgramAtLogon, false);
        QCOMPARE(options.General.ProtectConfigurationbyPassword, true);
        QCOMPARE(options.General.BlockSleepModeifJobIsScheduled, false);
        QCOMPARE(options.General.ProcessPriority, TOptions().General.ProcessPriority);
        const QStringList lines = App().EventsLog.PendingLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().endsWith(QStringLiteral(": Error loading options. Code: 1")), qPrintable(lines.first()));
    }

    // Images the reader must refuse without trusting their numbers.
    void damagedImageIsCode1_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<qint32>("accountCount");
        QTest::addRow("version 0") << 0 << 0;
        QTest::addRow("version 9") << 9 << 0;
        QTest::addRow("negative version") << -8 << 0;
        QTest::addRow("account count beyond the data") << 8 << 0x7fffffff;
        QTest::addRow("negative account count") << 8 << -1;
        QTest::addRow("one account announced, none stored") << 8 << 1;
    }
    void damagedImageIsCode1() {
        QFETCH(int, version);
        QFETCH(qint32, accountCount);
        const QString path = m_dir.filePath(QStringLiteral("damaged.vlo"));
        TOptions plainRecord;
        QVERIFY(SaveOptions(path, plainRecord));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray plain = OpenEnvelope(file.readAll());
        file.close();
        qToLittleEndian<qint32>(version, plain.data());
        qToLittleEndian<qint32>(accountCount, plain.data() + plain.size() - 4);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(SealEnvelope(plain));
        file.close();
        App().EventsLog.Clear();
        TOptions options;
        QVERIFY(!LoadOptions(path, options));
        QCOMPARE(options.FTPAccounts.size(), 0);
        const QStringList lines = App().EventsLog.PendingLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines.first().endsWith(QStringLiteral(": Error loading options. Code: 1")));
    }

    // The program writes version 8; the independent reader gets every field back.
    void savedFileReadsBackIndependently() {
        const TOptions& saved = m_loaded.at(8);
        const QString folder = m_dir.filePath(QStringLiteral("save"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/options.vlo");
        QVERIFY(SaveOptions(path, saved));
        const QJsonObject decoded = QJsonDocument::fromJson(RunTool({QStringLiteral("decode"), path})).object();
        QCOMPARE(decoded.value(QStringLiteral("FormatVersion")).toInt(), 8);
        for (const auto& [field, accessor] : Fields())
            QVERIFY2(Compact(ValueAt(decoded, field)) == Compact(accessor(saved)), qPrintable(field));
    }

    // The file holds passwords: owner-only, and replaced without a half-written state.
    void savedFileIsPrivateAndReplaced() {
        const QString folder = m_dir.filePath(QStringLiteral("private"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/options.vlo");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
        old.close();
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                                                QFileDevice::ReadGroup));
        QVERIFY(SaveOptions(path, m_loaded.at(8)));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0600));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("options.vlo")});
        TOptions back;
        QVERIFY(LoadOptions(path, back));
        QVERIFY(back == m_loaded.at(8));
    }
};

QTEST_GUILESS_MAIN(TestOptionsFile)
#include "tst_optionsfile.moc"
