#pragma once

#include "archive/TZipReader.h"
#include "archive/TZipWriter.h"
#include "core/model/TJobArchiver.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class TJob_FilesAndFolders;

// The archive engine of one files-and-folders run, or of one restored folder. Built from the
// job's Compression settings and its option copy; the engine's events act on the job:
// - failure: the file is skipped and Tag set to 1; unless SkipLockedFiles is on and the source
//   could not be opened (code 12), the job log gets "ERROR: <message>" and an error is counted;
// - progress: CurrentFileOperationProgress and a repaint request, or cancel when the job's
//   CancelCurrentFileOperation is set (a cancelled file also sets Tag: it is not in the archive);
// - store-file (the run's "data.zip" only): the entry takes the job's stFileNameToAddToZip.
// Used from the run's worker thread only.
class TArchiver : public TJobArchiver {
public:
    explicit TArchiver(TJob_FilesAndFolders& job);
    ~TArchiver() override;

    // The engine's values for the wizard's positions; unknown positions fall back to the
    // normal level and to AES-256, never to no encryption.
    static TZipLevel LevelFor(uint8_t compressionLevel);
    static TZipEncryption EncryptionFor(uint8_t encryptionMethod);
    // "*." + every non-empty ";"-separated item.
    static QStringList NoCompressionMasks(const QString& extensions);
    const TZipWriterSettings& Settings() const { return m_settings; }

    // ---- Backup: the run's one archive ----
    // Creates the archive (replacing any file of that name) with the store-file event
    // attached. False, with an error line in the job log, when it cannot be created.
    bool CreateArchive(const QString& archivePath);
    // Writes the rest and the central directory; the file exists under its name only after
    // this succeeded. False, with an error line, when the archive could not be completed.
    bool CloseArchive();

    bool AddFile(const QString& sourcePath) override;
    bool AddFolderEntry(const QString& entryName) override;
    bool MakeSingleFileArchive(const QString& sourcePath, const QString& archivePath) override;

    // ---- Restore ----
    // The password is the one typed at restore (empty when none was asked for).
    bool OpenForReading(const QString& archivePath, const QString& password);
    // Extracts the entry named relativePath below baseFolder.
    bool ExtractEntry(const QString& relativePath, const QString& baseFolder);
    bool ExtractAll(const QString& baseFolder);
    void CloseReading();
    // The translated text of the last failed restore call.
    const QString& ErrorText() const { return m_errorText; }

private:
    void Attach(TZipWriter& writer, bool storeFileEvent);
    void OnFailure(const TZipError& error);
    bool OnProgress(double percent);
    QString Translate(const TZipError& error) const;
    bool ReaderFailed();

    TJob_FilesAndFolders& m_job;
    TZipWriterSettings m_settings;
    TZipWriter m_writer;
    TZipReader m_reader;
    QString m_errorText;
};
