#pragma once

// An FTP server in memory and a connection to it, for the tests of the FTP windows: folders,
// files with their bytes and times, a switch for servers that answer SIZE on folders, and
// failures on demand.

#include "net/TFtpConnection.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QSet>

#include <memory>

struct TFakeFtpServer {
    struct TFile {
        QByteArray Data;
        QDateTime Modified;
    };

    QString Host = QStringLiteral("ftp.example.org");
    QString Password = QStringLiteral("secret");
    QString Home = QStringLiteral("/home/anna");
    bool SizeWorksOnFolders = false;
    bool CanResume = true;
    int ChunkSize = 4;
    QSet<QString> Folders{QStringLiteral("/"), QStringLiteral("/home"), QStringLiteral("/home/anna")};
    QMap<QString, TFile> Files;
    // Called after each chunk of a transfer.
    std::function<void(int chunk)> DuringTransfer;
    // What each connection was made with, in order.
    QList<TFtpConnectSettings> Made;

    void AddFolder(const QString& path) { Folders.insert(path); }
    void AddFile(const QString& path, const QByteArray& data,
                 const QDateTime& modified = QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC)) {
        Files.insert(path, {data, modified});
    }

    // Installs the factory: every connection the program makes reaches this server.
    void Install() {
        SetFtpConnectionFactoryForTesting([this](const TFtpConnectSettings& settings) {
            Made.append(settings);
            return std::unique_ptr<TFtpConnection>(new TFakeFtpConnection(*this, settings));
        });
    }

    class TFakeFtpConnection : public TFtpConnection {
    public:
        TFakeFtpConnection(TFakeFtpServer& server, TFtpConnectSettings settings)
            : m_server(server)
            , m_settings(std::move(settings)) {}

        bool Connect() override {
            m_connected = false;
            if (m_settings.Host != m_server.Host)
                return Fail(QStringLiteral("Could not resolve host: ") + m_settings.Host);
            Status(QStringLiteral("220 Fake FTP server ready"));
            if (m_settings.Password != m_server.Password)
                return Fail(QStringLiteral("530 Login incorrect."));
            Status(QStringLiteral("230 Login successful."));
            m_connected = true;
            m_cwd = m_server.Home;
            return true;
        }
        bool Disconnect() override {
            m_connected = false;
            return true;
        }
        bool Connected() const override { return m_connected; }
        QString ErrorText() const override { return m_error; }

        bool CurrentFolder(QString& path) override {
            if (!Up())
                return false;
            path = m_cwd;
            return true;
        }
        bool ChangeFolder(const QString& path) override {
            const QString target = Resolve(path);
            if (!Up() || !m_server.Folders.contains(target))
                return Fail(QStringLiteral("550 Failed to change directory."));
            m_cwd = target;
            return true;
        }
        bool ChangeToParent() override { return ChangeFolder(QStringLiteral("..")); }
        bool List(const QString& folder, QList<TFtpEntry>& entries) override {
            QStringList names;
            if (!NameList(folder, names))
                return false;
            entries.clear();
            for (const QString& name : names) {
                const QString path = Join(Resolve(folder), name);
                TFtpEntry entry;
                entry.Name = name;
                entry.IsFolder = m_server.Folders.contains(path);
                if (!entry.IsFolder) {
                    entry.Size = m_server.Files.value(path).Data.size();
                    entry.Modified = m_server.Files.value(path).Modified;
                }
                entries.append(entry);
            }
            return true;
        }
        bool NameList(const QString& folder, QStringList& names) override {
            const QString target = Resolve(folder);
            if (!Up() || !m_server.Folders.contains(target))
                return Fail(QStringLiteral("550 No such directory."));
            names.clear();
            for (const QString& path : m_server.Folders)
                if (path != target && Parent(path) == target)
                    names.append(path.mid(path.lastIndexOf(u'/') + 1));
            for (auto it = m_server.Files.cbegin(); it != m_server.Files.cend(); ++it)
                if (Parent(it.key()) == target)
                    names.append(it.key().mid(it.key().lastIndexOf(u'/') + 1));
            names.sort();
            return true;
        }
        bool Size(const QString& path, int64_t& size) override {
            const QString target = Resolve(path);
            if (!Up())
                return false;
            if (m_server.Files.contains(target)) {
                size = m_server.Files.value(target).Data.size();
                return true;
            }
            if (m_server.SizeWorksOnFolders && m_server.Folders.contains(target)) {
                size = 4096;
                return true;
            }
            return Fail(QStringLiteral("550 Could not get file size."));
        }
        bool ModifiedTime(const QString& path, QDateTime& time) override {
            const QString target = Resolve(path);
            if (!Up())
                return false;
            if (m_server.Folders.contains(target)) {
                time = QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
                return true;
            }
            if (!m_server.Files.contains(target))
                return Fail(QStringLiteral("550 Could not get file modification time."));
            time = m_server.Files.value(target).Modified;
            return true;
        }
        bool MakeFolder(const QString& path) override {
            const QString target = Resolve(path);
            if (!Up() || Exists(target) || !m_server.Folders.contains(Parent(target)))
                return Fail(QStringLiteral("550 Create directory operation failed."));
            m_server.Folders.insert(target);
            return true;
        }
        bool RemoveFolder(const QString& path) override {
            const QString target = Resolve(path);
            QStringList names;
            if (!Up() || !m_server.Folders.contains(target) || !NameList(target, names) || !names.isEmpty())
                return Fail(QStringLiteral("550 Remove directory operation failed."));
            m_server.Folders.remove(target);
            return true;
        }
        bool RemoveFile(const QString& path) override {
            if (!Up() || m_server.Files.remove(Resolve(path)) == 0)
                return Fail(QStringLiteral("550 Delete operation failed."));
            return true;
        }
        bool Rename(const QString& from, const QString& to) override {
            const QString source = Resolve(from), target = Resolve(to);
            if (!Up() || !m_server.Files.contains(source) || Exists(target))
                return Fail(QStringLiteral("550 Rename failed."));
            m_server.Files.insert(target, m_server.Files.take(source));
            return true;
        }
        bool Upload(const QString& localPath, const QString& remotePath) override {
            m_aborted = false;
            const QString target = Resolve(remotePath);
            QFile file(localPath);
            if (!Up() || !file.open(QIODevice::ReadOnly) || !m_server.Folders.contains(Parent(target)))
                return Fail(QStringLiteral("553 Could not create file."));
            const QByteArray data = file.readAll();
            if (!Chunks(data.size()))
                return false;
            m_server.Files.insert(target, {data, QDateTime::currentDateTimeUtc()});
            return true;
        }
        bool Download(const QString& remotePath, const QString& localPath, bool resume) override {
            m_aborted = false;
            const QString source = Resolve(remotePath);
            if (!Up() || !m_server.Files.contains(source))
                return Fail(QStringLiteral("550 Failed to open file."));
            const QByteArray data = m_server.Files.value(source).Data;
            QFile file(localPath);
            const bool append = resume && m_server.CanResume && file.exists();
            if (!file.open(append ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate))
                return Fail(QStringLiteral("cannot write ") + localPath);
            const qint64 from = append ? std::min<qint64>(file.size(), data.size()) : 0;
            if (append)
                Status(QStringLiteral("REST %1").arg(from));
            for (qint64 at = from; at < data.size(); at += m_server.ChunkSize) {
                file.write(data.mid(at, m_server.ChunkSize));
                file.flush();
                if (!Progress(std::min<qint64>(at + m_server.ChunkSize, data.size()), data.size(),
                              at / m_server.ChunkSize))
                    return false;
            }
            if (data.isEmpty() && OnProgress)
                OnProgress(0, 0);
            return true;
        }
        bool Aborted() const override { return m_aborted; }

    private:
        bool Up() {
            if (m_connected)
                return true;
            return Fail(QStringLiteral("not connected"));
        }
        bool Fail(const QString& error) {
            m_error = error;
            Status(error);
            return false;
        }
        void Status(const QString& line) {
            if (OnStatus)
                OnStatus(line);
        }
        bool Progress(int64_t done, int64_t total, int chunk) {
            if (OnProgress && !OnProgress(done, total)) {
                m_aborted = true;
                return Fail(QStringLiteral("Operation was aborted by an application callback"));
            }
            if (m_server.DuringTransfer)
                m_server.DuringTransfer(chunk);
            return true;
        }
        bool Chunks(int64_t total) {
            if (total == 0 && OnProgress)
                OnProgress(0, 0);
            for (int64_t at = 0; at < total; at += m_server.ChunkSize)
                if (!Progress(std::min<int64_t>(at + m_server.ChunkSize, total), total, int(at / m_server.ChunkSize)))
                    return false;
            return true;
        }
        bool Exists(const QString& path) const {
            return m_server.Folders.contains(path) || m_server.Files.contains(path);
        }
        QString Resolve(const QString& path) const {
            const QString absolute = path.startsWith(u'/') ? path : m_cwd + u'/' + path;
            return QDir::cleanPath(absolute);
        }
        static QString Join(const QString& folder, const QString& name) {
            return folder.endsWith(u'/') ? QString(folder + name) : QString(folder + u'/' + name);
        }
        static QString Parent(const QString& path) {
            const qsizetype slash = path.lastIndexOf(u'/');
            return slash <= 0 ? QStringLiteral("/") : path.left(slash);
        }

        TFakeFtpServer& m_server;
        TFtpConnectSettings m_settings;
        bool m_connected = false;
        bool m_aborted = false;
        QString m_cwd;
        QString m_error;
    };
};
