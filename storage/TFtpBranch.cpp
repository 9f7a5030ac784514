#include "storage/TFtpBranch.h"

#include "core/model/TJob.h"
#include "net/TFtpConnection.h"
#include "storage/StoragePaths.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <utility>

namespace {

// Folders nested deeper than this are not something a backup made; it bounds the recursion a
// hostile or broken server (a folder listing itself) can cause.
constexpr int MaxTreeDepth = 256;

QString ParentOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return QStringLiteral(".");
    if (slash == 0)
        return QStringLiteral("/");
    return path.left(slash);
}

QString NameOf(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

} // namespace

TFtpBranch::TFtpBranch(TJob& job)
    : TStorageBranch(job) {}

TFtpBranch::~TFtpBranch() = default;

TConnectResult TFtpBranch::Connect() {
    m_connection.reset();
    m_cancelled = false;
    const TFTPDestination& destination = m_job.DestinationSettings.FTP;
    // The job's own copy of the options: edits made while it runs do not reach it. The last
    // account with the ID wins.
    const TFTPAccount* account = nullptr;
    for (const TFTPAccount& candidate : m_job.JobOptions.FTPAccounts)
        if (candidate.ID == destination.AccountID)
            account = &candidate;
    if (!account)
        return {false, {}, Tr(QStringLiteral("Related FTP record no longer exists."))};
    m_job.AddLogLine(Tr(QStringLiteral("Connecting to the FTP:")) + u' ' + account->AccName + u'(' + account->Host +
                     QStringLiteral("); ") + Tr(QStringLiteral("Subfolder:")) + u' ' + destination.Subfolder);
    std::unique_ptr<TFtpConnection> connection =
        MakeFtpConnection(TFtpConnectSettings::From(*account, m_job.JobOptions.Proxy));
    if (!connection)
        return {false, {}, Tr(QStringLiteral("Unknown error."))};
    connection->OnProgress = [this](int64_t done, int64_t total) {
        if (CancelRequested()) {
            m_cancelled = true;
            return false;
        }
        ReportProgress(done, total);
        return true;
    };
    if (!connection->Connect())
        return {false, {}, connection->ErrorText()};
    if (!connection->CurrentFolder(m_home))
        m_home.clear();
    m_connection = std::move(connection);
    // Older settings wrote the subfolder with backslashes. An empty subfolder is the login
    // folder: "." keeps the job's folder relative to it.
    QString base = destination.Subfolder;
    base.replace(u'\\', u'/');
    while (base.size() > 1 && base.endsWith(u'/'))
        base.chop(1);
    if (base.isEmpty())
        base = QStringLiteral(".");
    return {true, base, {}};
}

QString TFtpBranch::Disconnect() {
    if (!m_connection)
        return {};
    QString error;
    if (m_connection->Connected() && !m_connection->Disconnect())
        error = WithoutLineBreaks(m_connection->ErrorText());
    m_connection.reset();
    return error;
}

void TFtpBranch::BeforeAttempt() {
    m_reconnectError.clear();
    if (m_connection && !m_connection->Connected() && !m_connection->Connect())
        m_reconnectError = m_connection->ErrorText();
}

void TFtpBranch::AfterFailedAttempt() {
    if (m_connection && m_connection->Connected())
        m_connection->Disconnect();
}

void TFtpBranch::AfterOperation() {
    if (m_cancelled && m_connection && m_connection->Connected())
        m_connection->Disconnect();
    m_cancelled = false;
}

bool TFtpBranch::Usable() {
    if (!m_connection)
        return false;
    if (!m_connection->Connected() && m_reconnectError.isEmpty() && !m_connection->Connect())
        m_reconnectError = m_connection->ErrorText();
    return m_connection->Connected();
}

TBranchResult TFtpBranch::Failure() const {
    if (!m_connection)
        return TBranchResult::Failure(Tr(QStringLiteral("Not connected to the storage.")));
    if (!m_connection->Connected() && !m_reconnectError.isEmpty())
        return TBranchResult::Failure(m_reconnectError);
    const QString text = m_connection->ErrorText();
    return TBranchResult::Failure(text.isEmpty() ? Tr(QStringLiteral("Unknown error.")) : text);
}

TBranchResult TFtpBranch::Upload(const QString& local, const QString& remote) {
    LogTransferLine(QStringLiteral("Uploading the file:"), local);
    const QFileInfo source(local);
    if (!source.exists())
        return TBranchResult::LocalAccess(Tr(QStringLiteral("The file does not exist.")) + u' ' + local);
    if (!source.isFile() || !source.isReadable())
        return TBranchResult::LocalAccess(QStringLiteral("Not a readable file: ") + local);
    if (!Usable())
        return Failure();
    // The file goes to a new name beside the target and takes the target's name only when
    // complete, so a failed or cancelled transfer never leaves a partial file under the name.
    const QString folder = ParentOf(remote);
    const QString temporary =
        JoinPath(folder, QStringLiteral(".vaultora-") + QString::number(QRandomGenerator::global()->generate64(), 16) +
                             QStringLiteral(".part"));
    const int64_t size = source.size();
    if (!m_connection->Upload(local, temporary)) {
        const TBranchResult failure = Failure();
        // A server that went away keeps the part file, under its own name, until it answers again.
        if (!m_connection->Connected())
            m_connection->Connect();
        if (!m_connection->Connected() || !m_connection->RemoveFile(temporary))
            m_staleParts.append(temporary);
        if (m_cancelled)
            m_connection->Disconnect();
        return failure;
    }
    // Most servers replace the target on rename; those that refuse get it removed first.
    if (!m_connection->Rename(temporary, remote)) {
        if (!m_connection->Connected() || !m_connection->RemoveFile(remote) ||
            !m_connection->Rename(temporary, remote)) {
            const TBranchResult failure = Failure();
            if (m_connection->Connected())
                m_connection->RemoveFile(temporary);
            return failure;
        }
    }
    RemoveStaleParts();
    return TBranchResult::Success(size);
}

void TFtpBranch::RemoveStaleParts() {
    const QStringList parts = std::exchange(m_staleParts, {});
    for (const QString& part : parts)
        if (m_connection->Connected())
            m_connection->RemoveFile(part);
}

TBranchResult TFtpBranch::Download(const QString& remote, const QString& local) {
    LogTransferLine(QStringLiteral("Downloading the file:"), remote);
    const QFileInfo target(local);
    if (!QFileInfo(target.absolutePath()).isWritable())
        return TBranchResult::LocalAccess(QStringLiteral("The folder cannot be written: ") + target.absolutePath());
    if (!Usable())
        return Failure();
    if (m_connection->Download(remote, local, false))
        return TBranchResult::Success();
    if (!m_connection->Aborted() && m_connection->Connected() && m_connection->LastReplyCode() == 550)
        return TBranchResult::Failure(Tr(QStringLiteral("The file does not exist.")));
    return Failure();
}

TBranchResult TFtpBranch::RemoveFile(const QString& remote) {
    LogTransferLine(QStringLiteral("Removing the file:"), remote);
    if (!Usable() || !m_connection->RemoveFile(remote))
        return Failure();
    return TBranchResult::Success();
}

TBranchResult TFtpBranch::RemoveEmptyFolder(const QString& remote) {
    LogPathLine(QStringLiteral("Removing the empty directory:"), remote);
    if (!Usable() || !m_connection->RemoveFolder(remote))
        return Failure();
    return TBranchResult::Success();
}

bool TFtpBranch::RemoveTree(const QString& remote, int depth) {
    if (depth > MaxTreeDepth)
        return false;
    QList<TFtpEntry> entries;
    if (!m_connection->List(remote, entries))
        return false;
    for (const TFtpEntry& entry : std::as_const(entries)) {
        const QString path = JoinPath(remote, entry.Name);
        if (!entry.IsFolder || entry.IsLink) {
            if (!m_connection->RemoveFile(path))
                return false;
            continue;
        }
        // Some servers list a link to a folder as a folder (MLSD follows links). DELE removes a
        // link but refuses a real folder, so only real folders are entered: a link's target is
        // never emptied. Probing with SIZE would not tell either (some servers answer it for
        // folders).
        if (m_connection->RemoveFile(path))
            continue;
        if (!m_connection->Connected() || !RemoveTree(path, depth + 1))
            return false;
    }
    if (m_connection->RemoveFolder(remote))
        return true;
    // Names a listing leaves out (a dangling link, which MLSD cannot describe) still block RMD.
    QStringList names;
    if (!m_connection->Connected() || !m_connection->NameList(remote, names) || names.isEmpty())
        return false;
    for (const QString& name : std::as_const(names))
        m_connection->RemoveFile(JoinPath(remote, name));
    return m_connection->RemoveFolder(remote);
}

TBranchResult TFtpBranch::RemoveFolderTree(const QString& remote) {
    LogPathLine(QStringLiteral("Removing not empty directory:"), remote);
    if (!Usable() || !RemoveTree(remote, 0))
        return Failure();
    return TBranchResult::Success();
}

bool TFtpBranch::FolderExists(const QString& remote) {
    // CWD answers for folders only; the connection's folder goes back to the login folder.
    if (!m_connection->ChangeFolder(remote))
        return false;
    if (!m_home.isEmpty())
        m_connection->ChangeFolder(m_home);
    return true;
}

TBranchResult TFtpBranch::CreateFolder(const QString& remote) {
    LogPathLine(QStringLiteral("Creating the directory:"), remote);
    if (!Usable())
        return Failure();
    if (m_connection->MakeFolder(remote))
        return TBranchResult::Success();
    if (!m_connection->Connected())
        return Failure();
    if (FolderExists(remote))
        return TBranchResult::Success();
    // Missing parents, from the top down.
    const bool absolute = remote.startsWith(u'/');
    QString path = absolute ? QStringLiteral("/") : QString();
    for (const QString& name : remote.split(u'/', Qt::SkipEmptyParts)) {
        path = path.isEmpty() ? name : JoinPath(path, name);
        if (name == u'.')
            continue;
        if (!m_connection->MakeFolder(path)) {
            const TBranchResult failure = Failure();
            if (!m_connection->Connected() || !FolderExists(path))
                return failure;
        }
    }
    return TBranchResult::Success();
}

bool TFtpBranch::Exists(const QString& remote) {
    QList<TFtpEntry> entries;
    if (!m_connection->List(ParentOf(remote), entries))
        return false;
    const QString name = NameOf(remote);
    for (const TFtpEntry& entry : std::as_const(entries))
        if (entry.Name == name)
            return true;
    return false;
}

TBranchResult TFtpBranch::RenameFolder(const QString& remote, const QString& newPath) {
    LogPathLine(QStringLiteral("Renaming the directory:"), remote);
    return Rename(remote, newPath);
}

TBranchResult TFtpBranch::RenameFile(const QString& remote, const QString& newPath) {
    LogPathLine(QStringLiteral("Renaming the file:"), remote);
    return Rename(remote, newPath);
}

TBranchResult TFtpBranch::Rename(const QString& remote, const QString& newPath) {
    if (!Usable())
        return Failure();
    // Most servers would replace an existing file: a rename never does.
    if (Exists(newPath))
        return TBranchResult::Failure(Tr(QStringLiteral("The file already exists.")) + u' ' + newPath);
    if (!m_connection->Connected() || !m_connection->Rename(remote, newPath))
        return Failure();
    return TBranchResult::Success();
}

bool TFtpBranch::ListFolder(const QString& remote, QStringList& folders, QStringList& files) {
    folders.clear();
    files.clear();
    QList<TFtpEntry> entries;
    if (!Usable() || !m_connection->List(remote, entries))
        return false;
    for (const TFtpEntry& entry : std::as_const(entries))
        (entry.IsFolder && !entry.IsLink ? folders : files).append(entry.Name);
    return true;
}
