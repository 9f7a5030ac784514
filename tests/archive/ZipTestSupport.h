#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>

// Helpers shared by the archive tests: running the real ZIP tools, making small source trees
// and reading trees back for comparison.
namespace ZipTest {

struct TToolResult {
    int ExitCode = -1;
    QByteArray Output; // standard output and error together
};

// Runs program with arguments (standard input fed from input), within 10 minutes.
TToolResult Run(const QString& program, const QStringList& arguments, const QString& workingFolder = {},
                const QByteArray& input = {});
// Debian's Python, not a user's own.
QString Python();

struct TFileState {
    QByteArray Content; // link target for links
    int64_t MTimeSeconds = 0;
    uint32_t Mode = 0; // st_mode
};
// Every file, link and folder below root, by relative path (folders end with "/").
QMap<QString, TFileState> ReadTree(const QString& root);

// Writes a file with the given content, modification time and permission bits.
void WriteFile(const QString& path, const QByteArray& content, int64_t mtimeSeconds = 1700000000, uint32_t mode = 0644);
// Text that compresses well, and bytes that do not.
QByteArray TextBytes(int64_t size, int seed = 1);
QByteArray RandomBytes(int64_t size, int seed = 1);

// The raw local header extra field of the entry named name, found by scanning the archive.
QByteArray LocalExtraOf(const QByteArray& archive, const QByteArray& name);
// The value of one extra field (without its 4-byte header) inside an extra block.
QByteArray ExtraField(const QByteArray& extra, uint16_t id);

} // namespace ZipTest
