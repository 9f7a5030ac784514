// vaultora-mcs KEYS OUTPUT: writes the cloud application credentials file "mcs.dt" from a text
// file of five lines (Dropbox app key, Dropbox app secret, Google client id, Google client
// secret, OneDrive client id; an empty line for a service without keys). The build ships the
// file made from data/cloud-keys.txt, which holds no keys. Room app/.
#include "core/format/CloudAppCredentials.h"
#include "core/format/FileCipher.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fputs("usage: vaultora-mcs KEYS OUTPUT\n", stderr);
        return 64;
    }
    QFile keys(args[1]);
    if (!keys.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "vaultora-mcs: cannot read %s\n", qPrintable(args[1]));
        return 2;
    }
    QStringList lines;
    while (!keys.atEnd() && lines.size() < 5)
        lines.append(QString::fromUtf8(keys.readLine()).trimmed());
    while (lines.size() < 5)
        lines.append(QString());
    QString error;
    if (!WriteEncipheredFile(args[2], CloudAppCredentialsImage(lines[0], lines[1], lines[2], lines[3], lines[4]),
                             &error)) {
        std::fprintf(stderr, "vaultora-mcs: cannot write %s: %s\n", qPrintable(args[2]), qPrintable(error));
        return 2;
    }
    return 0;
}
