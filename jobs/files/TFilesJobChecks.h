#pragma once

#include <QString>
#include <QStringList>

// The checks a new or edited files-and-folders job passes before it is saved, shared by the
// wizard and "vaultora-cli new". Message texts are returned translated.
namespace TFilesJobChecks {

// Normalises an extension list ("TXT; doc ;" -> "txt;doc"). False with the message when the
// list is empty or holds "*", ".", ",", "\" or "/".
bool CheckExtensionList(QString& extensions, QString* message);

// The first two sources that share a name (folders with folders, files with files, ignoring
// letter case; whole-volume sources have no name): the later path, CR LF, the earlier path.
// Empty when there is no repeat.
QString DuplicatedNamesOfFoldersOrFiles(const QStringList& sources);

// The full duplicate message shown for that result.
QString DuplicateSourcesMessage(const QString& duplicates);

// Inserts "HH:MM:SS" into a sorted time table; false when it is already there.
bool AddTimeTableEntry(QStringList& timeTable, const QString& entry);

} // namespace TFilesJobChecks
