// Interoperability both ways with the real tools: archives we write pass 7-Zip's test, list
// with bsdtar and extract with 7-Zip to the same bytes and times; plain and traditionally
// encrypted ones also pass unzip -t and Python's zipfile. Archives made by 7-Zip, Info-ZIP zip,
// bsdtar and Python's zipfile extract with our reader to the same bytes, times and modes.

#include "ZipTestSupport.h"

#include "archive/TZipReader.h"
#include "archive/TZipWriter.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace ZipTest;

Q_DECLARE_METATYPE(TZipLevel)
Q_DECLARE_METATYPE(TZipEncryption)

namespace {

const QString Password = QStringLiteral("Pa55 word");

// The source tree of every case: a folder entry, an empty file, text, random bytes, a name
// beyond ASCII and one file large enough for the streamed path. Times are even seconds so that
// tools keeping only the two-second DOS time still match.
const QStringList Entries = {QStringLiteral("folder/"),          QStringLiteral("folder2/"),
                             QStringLiteral("folder2/text.txt"), QStringLiteral("random.bin"),
                             QStringLiteral("empty.txt"),        QStringLiteral("ünïcode.txt"),
                             QStringLiteral("big.txt")};

void MakeSource(const QString& root) {
    QVERIFY(QDir().mkpath(root + QStringLiteral("/folder")));
    WriteFile(root + QStringLiteral("/folder2/text.txt"), TextBytes(200000), 1600000000, 0640);
    WriteFile(root + QStringLiteral("/random.bin"), RandomBytes(50000), 1600000002, 0600);
    WriteFile(root + QStringLiteral("/empty.txt"), {}, 1500000000, 0644);
    WriteFile(root + QStringLiteral("/ünïcode.txt"), TextBytes(3000, 5), 1650000000, 0755);
    WriteFile(root + QStringLiteral("/big.txt"), TextBytes(3 << 20, 6), 1700000000, 0444);
}

void CompareTrees(const QString& expectedRoot, const QString& actualRoot, bool compareModes) {
    const auto expected = ReadTree(expectedRoot);
    const auto actual = ReadTree(actualRoot);
    QCOMPARE(actual.keys(), expected.keys());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (it.key().endsWith(u'/'))
            continue;
        const TFileState& got = actual.value(it.key());
        QVERIFY2(got.Content == it->Content, qPrintable(it.key()));
        QVERIFY2(got.MTimeSeconds == it->MTimeSeconds,
                 qPrintable(QStringLiteral("%1: %2 != %3").arg(it.key()).arg(got.MTimeSeconds).arg(it->MTimeSeconds)));
        if (compareModes)
            QVERIFY2((got.Mode & 0777) == (it->Mode & 0777), qPrintable(it.key()));
    }
}

QString ToolOutput(const TToolResult& result) {
    return QString::fromUtf8(result.Output.right(2000));
}

} // namespace

class TestZipInterop : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_source;
    QString Path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase();
    void ourArchivesPassTools_data();
    void ourArchivesPassTools();
    void tinyArchivesPassTools_data();
    void tinyArchivesPassTools();
    void aesExtraFieldBytes_data();
    void aesExtraFieldBytes();
    void toolArchivesExtract_data();
    void toolArchivesExtract();
};

void TestZipInterop::initTestCase() {
    for (const char* tool : {"7zz", "bsdtar", "unzip", "zip"})
        QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(), tool);
    QVERIFY(QFile::exists(Python()));
    m_source = Path(QStringLiteral("source"));
    MakeSource(m_source);
}

void TestZipInterop::ourArchivesPassTools_data() {
    QTest::addColumn<TZipLevel>("level");
    QTest::addColumn<TZipEncryption>("encryption");
    const std::pair<const char*, TZipLevel> levels[] = {{"stored", TZipLevel::Stored},
                                                        {"fastest", TZipLevel::Fastest},
                                                        {"normal", TZipLevel::Normal},
                                                        {"max", TZipLevel::Max}};
    const std::pair<const char*, TZipEncryption> methods[] = {{"plain", TZipEncryption::None},
                                                              {"aes128", TZipEncryption::Aes128},
                                                              {"aes192", TZipEncryption::Aes192},
                                                              {"aes256", TZipEncryption::Aes256},
                                                              {"zipcrypto", TZipEncryption::ZipCrypto}};
    for (const auto& [levelName, level] : levels)
        for (const auto& [methodName, method] : methods)
            QTest::addRow("%s %s", levelName, methodName) << level << method;
}

void TestZipInterop::ourArchivesPassTools() {
    QFETCH(TZipLevel, level);
    QFETCH(TZipEncryption, encryption);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    const QString archive = Path(QStringLiteral("ours-%1.zip").arg(tag));
    TZipWriterSettings settings;
    settings.Level = level;
    settings.Encryption = encryption;
    settings.Password = Password.toUtf8();
    settings.WholeEntryLimit = 1 << 20;
    TZipWriter writer(settings);
    QString name;
    writer.OnStoreFile = [&name](QString& entryName, const QString&) { entryName = name; };
    QVERIFY(writer.Create(archive));
    for (const QString& entry : Entries) {
        name = entry;
        if (entry.endsWith(u'/'))
            QVERIFY(writer.AddFolder(entry));
        else
            QCOMPARE(writer.AddFile(m_source + u'/' + entry), TZipAddResult::Added);
    }
    QVERIFY(writer.Close());
    const bool encrypted = encryption != TZipEncryption::None;
    const QString passwordSwitch = QStringLiteral("-p") + Password;

    const TToolResult test = Run(QStringLiteral("7zz"), {QStringLiteral("t"), passwordSwitch, archive});
    QVERIFY2(test.ExitCode == 0 && test.Output.contains("Everything is Ok"), qPrintable(ToolOutput(test)));

    const TToolResult list = Run(QStringLiteral("bsdtar"), {QStringLiteral("-tf"), archive});
    QVERIFY2(list.ExitCode == 0, qPrintable(ToolOutput(list)));
    QStringList listed = QString::fromUtf8(list.Output).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(listed, Entries);

    const QString sevenOut = Path(QStringLiteral("ours-7z-%1").arg(tag));
    const TToolResult extract = Run(QStringLiteral("7zz"), {QStringLiteral("x"), QStringLiteral("-y"), passwordSwitch,
                                                            QStringLiteral("-o") + sevenOut, archive});
    QVERIFY2(extract.ExitCode == 0, qPrintable(ToolOutput(extract)));
    CompareTrees(m_source, sevenOut, true);

    if (encryption == TZipEncryption::None || encryption == TZipEncryption::ZipCrypto) {
        const TToolResult unzip =
            Run(QStringLiteral("unzip"), {QStringLiteral("-t"), QStringLiteral("-P"), Password, archive});
        QVERIFY2(unzip.ExitCode == 0 && unzip.Output.contains("No errors detected"), qPrintable(ToolOutput(unzip)));
        const QString script = QStringLiteral("import sys, zipfile\n"
                                              "z = zipfile.ZipFile(sys.argv[1])\n"
                                              "z.setpassword(sys.argv[2].encode())\n"
                                              "bad = z.testzip()\n"
                                              "if bad: sys.exit('bad entry ' + bad)\n"
                                              "for i in z.infolist():\n"
                                              "    data = z.read(i)\n"
                                              "    assert len(data) == i.file_size\n"
                                              "    print(i.filename, i.file_size, bool(i.flag_bits & 1))\n");
        const TToolResult python = Run(Python(), {QStringLiteral("-c"), script, archive, Password});
        QVERIFY2(python.ExitCode == 0, qPrintable(ToolOutput(python)));
        QVERIFY2(python.Output.contains(QStringLiteral("big.txt %1 %2")
                                            .arg(3 << 20)
                                            .arg(encrypted ? QStringLiteral("True") : QStringLiteral("False"))
                                            .toUtf8()),
                 qPrintable(ToolOutput(python)));
    } else {
        // bsdtar decrypts AES too: a second, independent implementation of the extension.
        const QString bsdOut = Path(QStringLiteral("ours-bsdtar-%1").arg(tag));
        QVERIFY(QDir().mkpath(bsdOut));
        const TToolResult bsd = Run(QStringLiteral("bsdtar"),
                                    {QStringLiteral("--passphrase"), Password, QStringLiteral("-xf"), archive}, bsdOut);
        QVERIFY2(bsd.ExitCode == 0, qPrintable(ToolOutput(bsd)));
        CompareTrees(m_source, bsdOut, false);
    }
}

void TestZipInterop::tinyArchivesPassTools_data() {
    QTest::addColumn<bool>("withEntry");
    QTest::newRow("no entries") << false;
    QTest::newRow("one byte") << true;
}

void TestZipInterop::tinyArchivesPassTools() {
    QFETCH(bool, withEntry);
    const QString archive = Path(QStringLiteral("tiny-%1.zip").arg(withEntry));
    TZipWriter writer;
    QVERIFY(writer.Create(archive));
    if (withEntry)
        QVERIFY(writer.AddData(QStringLiteral("one.txt"), QByteArrayLiteral("1"), 1600000000LL * 1000000000LL));
    QVERIFY(writer.Close());
    const TToolResult test = Run(QStringLiteral("7zz"), {QStringLiteral("t"), archive});
    QVERIFY2(test.ExitCode == 0, qPrintable(ToolOutput(test)));
    const TToolResult list = Run(QStringLiteral("bsdtar"), {QStringLiteral("-tf"), archive});
    QVERIFY2(list.ExitCode == 0, qPrintable(ToolOutput(list)));
    QCOMPARE(list.Output, withEntry ? QByteArrayLiteral("one.txt\n") : QByteArray());
    const TToolResult python = Run(Python(), {QStringLiteral("-c"),
                                              QStringLiteral("import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                                                             "assert z.testzip() is None; print(z.namelist())"),
                                              archive});
    QVERIFY2(python.ExitCode == 0, qPrintable(ToolOutput(python)));
    if (withEntry) {
        const TToolResult unzip = Run(QStringLiteral("unzip"), {QStringLiteral("-t"), archive});
        QVERIFY2(unzip.ExitCode == 0, qPrintable(ToolOutput(unzip)));
    }
}

void TestZipInterop::aesExtraFieldBytes_data() {
    QTest::addColumn<TZipEncryption>("encryption");
    QTest::addColumn<int>("strength");
    QTest::addColumn<TZipLevel>("level");
    QTest::newRow("aes128 deflated") << TZipEncryption::Aes128 << 1 << TZipLevel::Normal;
    QTest::newRow("aes192 deflated") << TZipEncryption::Aes192 << 2 << TZipLevel::Fastest;
    QTest::newRow("aes256 stored") << TZipEncryption::Aes256 << 3 << TZipLevel::Stored;
}

void TestZipInterop::aesExtraFieldBytes() {
    QFETCH(TZipEncryption, encryption);
    QFETCH(int, strength);
    QFETCH(TZipLevel, level);
    TZipWriterSettings settings;
    settings.Encryption = encryption;
    settings.Level = level;
    settings.Password = Password.toUtf8();
    const QString archive = Path(QStringLiteral("aes-%1.zip").arg(strength));
    TZipWriter writer(settings);
    QVERIFY(writer.Create(archive));
    QVERIFY(writer.AddData(QStringLiteral("secret.txt"), TextBytes(10000), 1600000000LL * 1000000000LL));
    QVERIFY(writer.Close());
    QFile file(archive);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const char method = level == TZipLevel::Stored ? 0 : 8;
    // Header ID 0x9901, data size 7, vendor version 2, vendor ID "AE", strength, real method.
    const QByteArray field = QByteArray("\x01\x99\x07\x00\x02\x00"
                                        "AE",
                                        8) +
                             char(strength) + method + '\0';
    QCOMPARE(bytes.count(field), 2); // local header and central directory
    const QByteArray local = LocalExtraOf(bytes, "secret.txt");
    QCOMPARE(ExtraField(local, 0x9901), field.mid(4));
    // The local header says method 99 and "encrypted".
    const qsizetype header = bytes.indexOf("PK\x03\x04");
    QCOMPARE(uint8_t(bytes[header + 8]), uint8_t(99));
    QCOMPARE(uint8_t(bytes[header + 6]) & 1, 1);
}

void TestZipInterop::toolArchivesExtract_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments"); // run in the source folder; ARCHIVE stands for the path
    QTest::addColumn<bool>("encrypted");
    const QString archive = QStringLiteral("ARCHIVE");
    const QString passwordSwitch = QStringLiteral("-p") + Password;
    const QString sevenZip = QStringLiteral("7zz");
    const QStringList add = {QStringLiteral("a"), QStringLiteral("-tzip"), QStringLiteral("-bd")};
    QTest::newRow("7z deflate") << sevenZip << add + QStringList{QStringLiteral("-mx5"), archive, QStringLiteral(".")}
                                << false;
    QTest::newRow("7z fastest") << sevenZip << add + QStringList{QStringLiteral("-mx1"), archive, QStringLiteral(".")}
                                << false;
    QTest::newRow("7z stored") << sevenZip << add + QStringList{QStringLiteral("-mx0"), archive, QStringLiteral(".")}
                               << false;
    QTest::newRow("7z aes256") << sevenZip
                               << add + QStringList{QStringLiteral("-mem=AES256"), passwordSwitch, archive,
                                                    QStringLiteral(".")}
                               << true;
    QTest::newRow("7z aes128 stored") << sevenZip
                                      << add + QStringList{QStringLiteral("-mem=AES128"), QStringLiteral("-mx0"),
                                                           passwordSwitch, archive, QStringLiteral(".")}
                                      << true;
    QTest::newRow("7z zipcrypto") << sevenZip
                                  << add + QStringList{QStringLiteral("-mem=ZipCrypto"), passwordSwitch, archive,
                                                       QStringLiteral(".")}
                                  << true;
    const QString zip = QStringLiteral("zip");
    QTest::newRow("zip deflate") << zip << QStringList{QStringLiteral("-qr"), archive, QStringLiteral(".")} << false;
    QTest::newRow("zip stored") << zip << QStringList{QStringLiteral("-qr0"), archive, QStringLiteral(".")} << false;
    QTest::newRow("zip zip64 forced") << zip
                                      << QStringList{QStringLiteral("-qr"), QStringLiteral("-fz"), archive,
                                                     QStringLiteral(".")}
                                      << false;
    QTest::newRow("zip zipcrypto") << zip
                                   << QStringList{QStringLiteral("-qr"), QStringLiteral("-P"), Password, archive,
                                                  QStringLiteral(".")}
                                   << true;
    // Written to a pipe, zip cannot seek back: sizes and CRCs follow the data in descriptors.
    QTest::newRow("zip streamed with data descriptors")
        << QStringLiteral("sh")
        << QStringList{QStringLiteral("-c"), QStringLiteral("zip -qr -fz - . > \"$0\""), archive} << false;
    QTest::newRow("zip streamed zipcrypto")
        << QStringLiteral("sh")
        << QStringList{QStringLiteral("-c"), QStringLiteral("zip -qr -P \"$1\" - . > \"$0\""), archive, Password}
        << true;
    const QString bsdtar = QStringLiteral("bsdtar");
    QTest::newRow("bsdtar deflate") << bsdtar
                                    << QStringList{QStringLiteral("--format"), QStringLiteral("zip"),
                                                   QStringLiteral("-cf"), archive, QStringLiteral(".")}
                                    << false;
    QTest::newRow("bsdtar stored") << bsdtar
                                   << QStringList{QStringLiteral("--format"),  QStringLiteral("zip"),
                                                  QStringLiteral("--options"), QStringLiteral("zip:compression=store"),
                                                  QStringLiteral("-cf"),       archive,
                                                  QStringLiteral(".")}
                                   << false;
    const QString python =
        QStringLiteral("import os, sys, zipfile\n"
                       "method = zipfile.ZIP_DEFLATED if sys.argv[2] == 'deflated' else zipfile.ZIP_STORED\n"
                       "with zipfile.ZipFile(sys.argv[1], 'w', method) as z:\n"
                       "    for folder, dirs, files in os.walk('.'):\n"
                       "        for d in sorted(dirs): z.write(os.path.join(folder, d))\n"
                       "        for f in sorted(files):\n"
                       "            path = os.path.join(folder, f)\n"
                       "            info = zipfile.ZipInfo.from_file(path)\n"
                       "            info.compress_type = method\n"
                       "            with open(path, 'rb') as src, z.open(info, 'w', force_zip64=True) as dst:\n"
                       "                dst.write(src.read())\n");
    QTest::newRow("python deflated zip64")
        << Python() << QStringList{QStringLiteral("-c"), python, archive, QStringLiteral("deflated")} << false;
    QTest::newRow("python stored zip64") << Python()
                                         << QStringList{QStringLiteral("-c"), python, archive, QStringLiteral("stored")}
                                         << false;
}

void TestZipInterop::toolArchivesExtract() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(bool, encrypted);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    const QString archive = Path(QStringLiteral("tool-%1.zip").arg(tag));
    arguments.replaceInStrings(QStringLiteral("ARCHIVE"), archive);
    const TToolResult made = Run(program, arguments, m_source);
    QVERIFY2(made.ExitCode == 0, qPrintable(ToolOutput(made)));

    TZipReader reader;
    QVERIFY2(reader.Open(archive, Password.toUtf8()), qPrintable(reader.LastError().Text()));
    bool anyEncrypted = false;
    for (const TZipEntryInfo& entry : reader.Entries())
        anyEncrypted = anyEncrypted || entry.IsEncrypted();
    QCOMPARE(anyEncrypted, encrypted);
    const QString output = Path(QStringLiteral("tool-out-%1").arg(tag));
    QVERIFY2(reader.ExtractAll(output), qPrintable(reader.LastError().Text()));
    CompareTrees(m_source, output, true);

    if (encrypted) {
        TZipReader wrong;
        QVERIFY(wrong.Open(archive, QByteArrayLiteral("not the password")));
        QVERIFY(!wrong.ExtractAll(Path(QStringLiteral("tool-wrong-%1").arg(tag))));
    }
}

QTEST_GUILESS_MAIN(TestZipInterop)
#include "tst_ZipInterop.moc"
