#include "TSmbServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <csignal>
#include <unistd.h>

const QString TSmbServer::User = QStringLiteral("vaultorasmb");
const QString TSmbServer::Password = QStringLiteral("Share-Pass 1");

namespace {

bool Run(const QString& program, const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return false;
    process.write(input);
    process.closeWriteChannel();
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

TSmbServer::~TSmbServer() {
    Stop();
}

QString TSmbServer::Url(const QString& share) const {
    return QStringLiteral("smb://127.0.0.1:%1/%2").arg(m_port).arg(share);
}

void TSmbServer::Kill() {
    QFile pid(m_dir.filePath(QStringLiteral("run/smbd.pid")));
    if (!pid.open(QIODevice::ReadOnly))
        return;
    const pid_t number = pid_t(pid.readAll().trimmed().toInt());
    // The processes that serve clients share smbd's process group (the one timeout(1) made).
    const pid_t group = number > 1 ? ::getpgid(number) : -1;
    if (group > 1)
        ::kill(-group, SIGKILL);
}

QString TSmbServer::Start() {
    if (::geteuid() != 0)
        return QStringLiteral("smbd needs root here (a system user owns the share)");
    if (!QFile::exists(QStringLiteral("/usr/sbin/smbd")))
        return QStringLiteral("smbd is not installed (package samba)");
    if (!m_dir.isValid())
        return QStringLiteral("no scratch folder");
    const QString s = m_dir.path();
    QFile::setPermissions(s, QFileDevice::Permissions(0x7755));
    for (const char* sub : {"private", "lock", "state", "cache", "run", "ncalrpc", "log", "share", "guest"})
        QDir().mkpath(s + u'/' + QLatin1String(sub));
    m_smbd.Stop(); // reaps a server that was killed
    if (m_port == 0)
        m_port = TServerProcess::FreePort();
    const QString conf = s + QStringLiteral("/smb.conf");
    QFile file(conf);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QStringLiteral("cannot write smb.conf");
    const QString text = QStringLiteral("[global]\n"
                                        "  server role = standalone server\n"
                                        "  smb ports = %1\n"
                                        "  interfaces = 127.0.0.1\n"
                                        "  bind interfaces only = yes\n"
                                        "  disable netbios = yes\n"
                                        "  private dir = S/private\n"
                                        "  lock directory = S/lock\n"
                                        "  state directory = S/state\n"
                                        "  cache directory = S/cache\n"
                                        "  pid directory = S/run\n"
                                        "  ncalrpc dir = S/ncalrpc\n"
                                        "  log file = S/log/log.%m\n"
                                        "  passdb backend = tdbsam:S/private/passdb.tdb\n"
                                        "  map to guest = Bad User\n"
                                        "  load printers = no\n"
                                        "  printing = bsd\n"
                                        "  printcap name = /dev/null\n"
                                        "  disable spoolss = yes\n"
                                        "  server min protocol = SMB2_10\n"
                                        "[share]\n"
                                        "  path = S/share\n"
                                        "  read only = no\n"
                                        "  valid users = %2\n"
                                        "[guest]\n"
                                        "  path = S/guest\n"
                                        "  read only = no\n"
                                        "  guest ok = yes\n"
                                        "  guest only = yes\n")
                             .arg(m_port)
                             .arg(User)
                             .replace(QStringLiteral("S/"), s + u'/');
    file.write(text.toUtf8());
    file.close();
    // The user may be left from an earlier run; adding it again fails harmlessly.
    Run(QStringLiteral("/usr/sbin/useradd"),
        {QStringLiteral("-M"), QStringLiteral("-s"), QStringLiteral("/usr/sbin/nologin"), User});
    const QByteArray twice = (Password + u'\n' + Password + u'\n').toUtf8();
    if (!Run(QStringLiteral("/usr/bin/smbpasswd"),
             {QStringLiteral("-c"), conf, QStringLiteral("-s"), QStringLiteral("-a"), User}, twice))
        return QStringLiteral("smbpasswd could not add the user");
    Run(QStringLiteral("/usr/bin/chown"), {User + u':', s + QStringLiteral("/share")});
    QFile::setPermissions(s + QStringLiteral("/guest"), QFileDevice::Permissions(0x7777));
    if (!m_smbd.StartListening(QStringLiteral("/usr/sbin/smbd"),
                               {QStringLiteral("--foreground"), QStringLiteral("--no-process-group"),
                                QStringLiteral("--debug-stdout"), QStringLiteral("-s"), conf},
                               m_port))
        return QStringLiteral("smbd did not start: ") + m_smbd.Output().right(2000);
    m_running = true;
    return {};
}

void TSmbServer::Stop() {
    if (!m_running)
        return;
    m_smbd.Stop();
    // smbd starts a helper that outlives it.
    QFile pid(m_dir.filePath(QStringLiteral("run/samba-dcerpcd.pid")));
    if (pid.open(QIODevice::ReadOnly)) {
        const int number = pid.readAll().trimmed().toInt();
        if (number > 1)
            ::kill(number, SIGTERM);
    }
    m_running = false;
}
