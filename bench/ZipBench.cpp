// Packs a folder tree into a ZIP archive with the archive engine, the way a backup run does
// (one AddFile per file, folder entries first), or lists/extracts one with the reader.
//
//   vaultora-zipbench pack [--level fastest|normal|max|none] [--encryption aes128|aes192|aes256|zipcrypto]
//                          [--threads N] ARCHIVE FOLDER       (password read from standard input)
//   vaultora-zipbench extract ARCHIVE FOLDER                  (password read from standard input)

#include "archive/TZipReader.h"
#include "archive/TZipWriter.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: vaultora-zipbench pack [--level L] [--encryption E] [--threads N] ARCHIVE FOLDER\n"
                         "       vaultora-zipbench extract ARCHIVE FOLDER\n");
    return 64;
}

QByteArray ReadPassword() {
    std::string line;
    std::getline(std::cin, line);
    return QByteArray::fromStdString(line);
}

int Pack(const QStringList& args) {
    TZipWriterSettings settings;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QStringLiteral("--level") && i + 1 < args.size()) {
            const QString& level = args.at(++i);
            settings.Level = level == QStringLiteral("fastest") ? TZipLevel::Fastest
                             : level == QStringLiteral("max")   ? TZipLevel::Max
                             : level == QStringLiteral("none")  ? TZipLevel::Stored
                                                                : TZipLevel::Normal;
        } else if (arg == QStringLiteral("--encryption") && i + 1 < args.size()) {
            const QString& method = args.at(++i);
            settings.Encryption = method == QStringLiteral("aes128")      ? TZipEncryption::Aes128
                                  : method == QStringLiteral("aes192")    ? TZipEncryption::Aes192
                                  : method == QStringLiteral("aes256")    ? TZipEncryption::Aes256
                                  : method == QStringLiteral("zipcrypto") ? TZipEncryption::ZipCrypto
                                                                          : TZipEncryption::None;
        } else if (arg == QStringLiteral("--threads") && i + 1 < args.size()) {
            settings.Threads = args.at(++i).toInt();
        } else {
            positional.append(arg);
        }
    }
    if (positional.size() != 2)
        return Usage();
    if (settings.Encryption != TZipEncryption::None)
        settings.Password = ReadPassword();
    const QString folder = QFileInfo(positional.at(1)).absoluteFilePath();
    TZipWriter writer(settings);
    int failures = 0;
    writer.OnFailure = [&failures](const QString&, const TZipError& error) {
        ++failures;
        std::fprintf(stderr, "%s\n", qPrintable(error.Text()));
    };
    QString entryName;
    writer.OnStoreFile = [&entryName](QString& name, const QString&) { name = entryName; };
    QElapsedTimer timer;
    timer.start();
    if (!writer.Create(positional.at(0))) {
        std::fprintf(stderr, "%s\n", qPrintable(writer.LastError().Text()));
        return 1;
    }
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    qint64 files = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        entryName = path.mid(folder.size() + 1);
        if (info.isDir() && !info.isSymLink()) {
            writer.AddFolder(entryName);
        } else {
            writer.AddFile(path);
            ++files;
        }
    }
    if (!writer.Close()) {
        std::fprintf(stderr, "%s\n", qPrintable(writer.LastError().Text()));
        return 1;
    }
    std::printf("packed %lld files in %.3f s, %d failures\n", files, double(timer.nsecsElapsed()) / 1e9, failures);
    return failures ? 2 : 0;
}

int Extract(const QStringList& args) {
    if (args.size() != 2)
        return Usage();
    TZipReader reader;
    const QByteArray password = ReadPassword();
    if (!reader.Open(args.at(0), password) || !reader.ExtractAll(args.at(1))) {
        std::fprintf(stderr, "%s\n", qPrintable(reader.LastError().Text()));
        return 1;
    }
    std::printf("extracted %zu entries\n", reader.Entries().size());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return Usage();
    const QString command = args.takeFirst();
    if (command == QStringLiteral("pack"))
        return Pack(args);
    if (command == QStringLiteral("extract"))
        return Extract(args);
    return Usage();
}
