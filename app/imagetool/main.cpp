// vaultora-imagetool: backs up whole volumes into a chunk store below a target and writes them back
// (see jobs/driveimage/ImageTool.h). Drive image jobs run it as a child process and read its output.

#include "jobs/driveimage/ImageTool.h"

#include <QFile>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QFile::decodeName(argv[i]));
    // One line at a time, flushed: the reader is usually a pipe and follows the progress.
    return RunImageTool(args, [](const QString& line) {
        std::fputs(line.toLocal8Bit().constData(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    });
}
