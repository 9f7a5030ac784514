#include "jobs/files/TArchiver.h"

#include "jobs/files/TJob_FilesAndFolders.h"

TArchiver::TArchiver(TJob_FilesAndFolders& job)
    : m_job(job)
    , m_settings([&job] {
        const TCompression& compression = job.Settings.Compression;
        TZipWriterSettings settings;
        settings.Level = LevelFor(compression.CompressionLevel);
        // The password's UTF-8 bytes stand for the system's 8-bit code page.
        if (compression.ProtectWithPassword && !compression.Password.isEmpty()) {
            settings.Encryption = EncryptionFor(compression.EncryptionMethod);
            settings.Password = compression.Password.toUtf8();
        }
        settings.StoredMasks = NoCompressionMasks(compression.NoCompressionExtensions);
        settings.LockSources = job.JobOptions.Processing.PreventOtherAppsFromWritingDuringZipping;
        return settings;
    }())
    , m_writer(m_settings) {
    Attach(m_writer, true);
}

TArchiver::~TArchiver() = default;

TZipLevel TArchiver::LevelFor(uint8_t compressionLevel) {
    switch (compressionLevel) {
    case clFastest:
        return TZipLevel::Fastest;
    case clMax:
        return TZipLevel::Max;
    case clNone:
        return TZipLevel::Stored;
    default:
        return TZipLevel::Normal;
    }
}

TZipEncryption TArchiver::EncryptionFor(uint8_t encryptionMethod) {
    switch (encryptionMethod) {
    case emAES128:
        return TZipEncryption::Aes128;
    case emAES192:
        return TZipEncryption::Aes192;
    case emPkzipClassic:
        return TZipEncryption::ZipCrypto;
    default:
        return TZipEncryption::Aes256;
    }
}

QStringList TArchiver::NoCompressionMasks(const QString& extensions) {
    QStringList masks;
    for (const QString& item : extensions.split(u';')) {
        const QString extension = item.trimmed();
        if (!extension.isEmpty())
            masks.append(QStringLiteral("*.") + extension);
    }
    return masks;
}

void TArchiver::Attach(TZipWriter& writer, bool storeFileEvent) {
    writer.OnFailure = [this](const QString&, const TZipError& error) { OnFailure(error); };
    writer.OnProgress = [this](double percent) { return OnProgress(percent); };
    if (storeFileEvent)
        writer.OnStoreFile = [this](QString& entryName, const QString&) {
            if (!m_job.stFileNameToAddToZip.isEmpty())
                entryName = m_job.stFileNameToAddToZip;
        };
}

QString TArchiver::Translate(const TZipError& error) const {
    return error.Fill(m_job.Tr(error.Format));
}

void TArchiver::OnFailure(const TZipError& error) {
    Tag = 1;
    if (m_job.JobOptions.Processing.SkipLockedFiles && error.Code == zeCannotOpenFile)
        return;
    m_job.AddErrorLine(Translate(error));
}

bool TArchiver::OnProgress(double percent) {
    if (m_job.CancelCurrentFileOperation.Load() != 0)
        return false;
    m_job.CurrentFileOperationProgress = int32_t(percent);
    m_job.RequestRepaint();
    return true;
}

// ---- Backup ----

bool TArchiver::CreateArchive(const QString& archivePath) {
    if (m_writer.Create(archivePath))
        return true;
    OnFailure(m_writer.LastError());
    return false;
}

bool TArchiver::CloseArchive() {
    if (!m_writer.IsOpen())
        return false;
    if (m_writer.Close())
        return true;
    OnFailure(m_writer.LastError());
    return false;
}

bool TArchiver::AddFile(const QString& sourcePath) {
    switch (m_writer.AddFile(sourcePath)) {
    case TZipAddResult::Added:
        return true;
    case TZipAddResult::Cancelled:
        Tag = 1;
        return false;
    case TZipAddResult::Failed:
        break;
    }
    return false;
}

bool TArchiver::AddFolderEntry(const QString& entryName) {
    return m_writer.AddFolder(entryName);
}

bool TArchiver::MakeSingleFileArchive(const QString& sourcePath, const QString& archivePath) {
    TZipWriter writer(m_settings);
    Attach(writer, false);
    if (!writer.Create(archivePath)) {
        OnFailure(writer.LastError());
        return false;
    }
    const TZipAddResult result = writer.AddFile(sourcePath);
    if (result != TZipAddResult::Added) {
        writer.Abandon();
        Tag = 1;
        return false;
    }
    if (!writer.Close()) {
        OnFailure(writer.LastError());
        return false;
    }
    return true;
}

// ---- Restore ----

bool TArchiver::ReaderFailed() {
    m_errorText = Translate(m_reader.LastError());
    return false;
}

bool TArchiver::OpenForReading(const QString& archivePath, const QString& password) {
    m_errorText.clear();
    m_reader.OnProgress = [this](double percent) { return OnProgress(percent); };
    return m_reader.Open(archivePath, password.toUtf8()) || ReaderFailed();
}

bool TArchiver::ExtractEntry(const QString& relativePath, const QString& baseFolder) {
    m_errorText.clear();
    return m_reader.ExtractEntry(relativePath, baseFolder) || ReaderFailed();
}

bool TArchiver::ExtractAll(const QString& baseFolder) {
    m_errorText.clear();
    return m_reader.ExtractAll(baseFolder) || ReaderFailed();
}

void TArchiver::CloseReading() {
    m_reader.Close();
}
