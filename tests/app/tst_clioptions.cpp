// "vaultora-cli options --json" against options files written by an independent generator, and
// "vaultora-cli events" for the start-up lines of the process.

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Cli = QStringLiteral(VAULTORA_BINARY_DIR "/bin/vaultora-cli");
const QString Tool = QStringLiteral(VAULTORA_SOURCE_DIR "/tests/tools/options_file.py");
const QString Record = QStringLiteral(VAULTORA_SOURCE_DIR "/tests/data/options/record.json");

struct TRun {
    int ExitCode = -1;
    QByteArray Out;
    QByteArray Err;
};

} // namespace

class TestCliOptions : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // The program runs in a home of its own: its defaults and folders stay inside the test's.
    TRun Run(const QString& program, const QStringList& arguments) {
        QProcess process;
        if (program == Cli)
            process.setProcessEnvironment(Isolated());
        process.start(program, arguments);
        if (!process.waitForFinished(60000))
            qFatal("%s did not end", qPrintable(program));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
                process.readAllStandardError()};
    }

    QProcessEnvironment Isolated() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString home = m_dir.filePath(QStringLiteral("home"));
        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        environment.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        return environment;
    }

    QJsonObject Json(const QByteArray& text) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(text, &error);
        if (error.error != QJsonParseError::NoError)
            qFatal("not JSON: %s", text.constData());
        return document.object();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Every field of a file written from the file table, under its documented name.
    void showsOptionsFileWrittenElsewhere_data() {
        QTest::addColumn<int>("version");
        for (int version = 8; version >= 1; --version)
            QTest::addRow("version %d", version) << version;
    }
    void showsOptionsFileWrittenElsewhere() {
        QFETCH(int, version);
        const QString data = m_dir.filePath(QStringLiteral("data-v%1").arg(version));
        QVERIFY(QDir().mkpath(data));
        const QString file = data + QStringLiteral("/options.vlo");
        const TRun encode =
            Run(QStringLiteral(VAULTORA_PYTHON),
                {Tool, QStringLiteral("encode"), QStringLiteral("--version"), QString::number(version), Record, file});
        QVERIFY2(encode.ExitCode == 0, encode.Err.constData());
        const TRun view = Run(QStringLiteral(VAULTORA_PYTHON), {Tool, QStringLiteral("view"), file});
        QVERIFY2(view.ExitCode == 0, view.Err.constData());
        const TRun shown =
            Run(Cli, {QStringLiteral("--data-dir"), data, QStringLiteral("options"), QStringLiteral("--json")});
        QVERIFY2(shown.ExitCode == 0, shown.Err.constData());

        QJsonObject cli = Json(shown.Out);
        QJsonObject language = cli.value(QStringLiteral("Language")).toObject();
        QCOMPARE(language.take(QStringLiteral("iLanguage")).toInt(), 2); // "fr" in the shipped table
        cli[QStringLiteral("Language")] = language;
        const QJsonObject expected = Json(view.Out);
        for (const QString& key : expected.keys())
            QVERIFY2(cli.value(key) == expected.value(key),
                     qPrintable(key + QStringLiteral(": ") +
                                QString::fromUtf8(QJsonDocument(QJsonObject{{key, cli.value(key)}}).toJson())));
        QCOMPARE(cli.keys(), expected.keys());
        // No password leaves the file.
        for (const char* secret : {"s3cret pass", "mail-pw", "ftp-pw", "proxy-pw"})
            QVERIFY(!shown.Out.contains(secret));
    }

    void eventsOfAFirstStart() {
        const QString data = m_dir.filePath(QStringLiteral("fresh/Vaultora"));
        const TRun events = Run(Cli, {QStringLiteral("--data-dir"), data, QStringLiteral("events")});
        QCOMPARE(events.ExitCode, 0);
        const QString home = m_dir.filePath(QStringLiteral("home"));
        QStringList lines = QString::fromUtf8(events.Out).split(u'\n', Qt::SkipEmptyParts);
        for (QString& line : lines)
            line = line.mid(21);
        QCOMPARE(lines,
                 (QStringList{
                     QStringLiteral("Application directory is created: ") + data,
                     QStringLiteral("Temporary directory is created: ") + home + QStringLiteral("/.cache/VaultoraTmp"),
                     QStringLiteral("Log directory is created: ") + home + QStringLiteral("/Documents/Vaultora")}));
        // The command-line program does not register itself at logon.
        QVERIFY(!QFileInfo::exists(home + QStringLiteral("/.config/autostart/vaultora.desktop")));
        const TRun shown =
            Run(Cli, {QStringLiteral("--data-dir"), data, QStringLiteral("options"), QStringLiteral("--json")});
        QCOMPARE(Json(shown.Out).value(QStringLiteral("General")).toObject().value(QStringLiteral("RunProgramAtLogon")),
                 QJsonValue(false));
    }

    void eventsOfADamagedOptionsFile() {
        const QString data = m_dir.filePath(QStringLiteral("damaged"));
        QVERIFY(QDir().mkpath(data));
        QFile file(data + QStringLiteral("/options.vlo"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\x01\x02");
        file.close();
        const TRun events = Run(Cli, {QStringLiteral("--data-dir"), data, QStringLiteral("events")});
        QCOMPARE(events.ExitCode, 0);
        QVERIFY2(events.Out.contains(": Error loading options. Code: 1\n"), events.Out.constData());
    }

    void unusableDataFolder() {
        const QString blocker = m_dir.filePath(QStringLiteral("blocker"));
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const TRun shown = Run(Cli, {QStringLiteral("--data-dir"), blocker + QStringLiteral("/Vaultora"),
                                     QStringLiteral("options"), QStringLiteral("--json")});
        QCOMPARE(shown.ExitCode, 2);
        QVERIFY(shown.Out.isEmpty());
        QVERIFY2(shown.Err.contains("Unable to create application directory:"), shown.Err.constData());
    }

    void refusesUnknownArguments() {
        const QString data = m_dir.filePath(QStringLiteral("usage"));
        QCOMPARE(
            Run(Cli, {QStringLiteral("--data-dir"), data, QStringLiteral("options"), QStringLiteral("--xml")}).ExitCode,
            64);
        QCOMPARE(Run(Cli, {QStringLiteral("--data-dir"), data, QStringLiteral("events"), QStringLiteral("x")}).ExitCode,
                 64);
    }
};

QTEST_GUILESS_MAIN(TestCliOptions)
#include "tst_clioptions.moc"
