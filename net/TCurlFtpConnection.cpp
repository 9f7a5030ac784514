// Placeholder until the libcurl transport lands on this branch: every call fails.
#include "net/TCurlFtpConnection.h"

TCurlFtpConnection::TCurlFtpConnection(TFtpConnectSettings settings)
    : FSettings(std::move(settings)) {}
TCurlFtpConnection::~TCurlFtpConnection() = default;
bool TCurlFtpConnection::Connect() {
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::Disconnect() {
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::Connected() const {
    return false;
}
QString TCurlFtpConnection::ErrorText() const {
    return FErrorText;
}
bool TCurlFtpConnection::CurrentFolder(QString& path) {
    Q_UNUSED(path);
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::ChangeFolder(const QString& path) {
    Q_UNUSED(path);
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::ChangeToParent() {
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::List(const QString& folder, QList<TFtpEntry>& entries) {
    Q_UNUSED(folder);
    Q_UNUSED(entries);
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::NameList(const QString& folder, QStringList& names) {
    Q_UNUSED(folder);
    Q_UNUSED(names);
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::Size(const QString& path, int64_t& size) {
    Q_UNUSED(path);
    Q_UNUSED(size);
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::ModifiedTime(const QString& path, QDateTime& time) {
    Q_UNUSED(path);
    Q_UNUSED(time);
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::MakeFolder(const QString& path) {
    Q_UNUSED(path);
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::RemoveFolder(const QString& path) {
    Q_UNUSED(path);
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::RemoveFile(const QString& path) {
    Q_UNUSED(path);
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::Rename(const QString& from, const QString& to) {
    Q_UNUSED(from);
    Q_UNUSED(to);
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::Upload(const QString& localPath, const QString& remotePath) {
    Q_UNUSED(localPath);
    Q_UNUSED(remotePath);
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::Download(const QString& remotePath, const QString& localPath, bool resume) {
    Q_UNUSED(remotePath);
    Q_UNUSED(localPath);
    Q_UNUSED(resume);
    FErrorText = QStringLiteral("No FTP transport yet");
    return false;
}
bool TCurlFtpConnection::Aborted() const {
    return false;
}
