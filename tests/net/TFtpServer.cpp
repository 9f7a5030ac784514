#include "TFtpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <pwd.h>
#include <unistd.h>

const QString TFtpServer::User = QStringLiteral("vaultoraftp");
const QString TFtpServer::Password = QStringLiteral("Ftp-Pass 1");

namespace {

bool Run(const QString& program, const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return false;
    process.write(input);
    process.closeWriteChannel();
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

TFtpServer::~TFtpServer() {
    Stop();
}

QString TFtpServer::MakeCertificate(const QString& folder) {
    if (!QFile::exists(QStringLiteral("/usr/bin/openssl")))
        return QStringLiteral("openssl is not installed");
    if (!Run(QStringLiteral("/usr/bin/openssl"),
             {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
              QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("30"), QStringLiteral("-subj"),
              QStringLiteral("/CN=localhost"), QStringLiteral("-keyout"), folder + QStringLiteral("/key.pem"),
              QStringLiteral("-out"), folder + QStringLiteral("/cert.pem")}))
        return QStringLiteral("openssl could not make a certificate");
    return {};
}

QString TFtpServer::ServerRoot() const {
    return m_options.Kind == Vsftpd ? Root() : QStringLiteral("/");
}

TFtpConnectSettings TFtpServer::Settings() const {
    TFtpConnectSettings settings;
    settings.Host = QStringLiteral("127.0.0.1");
    settings.Port = m_port;
    settings.Username = User;
    settings.Password = Password;
    settings.FTPS = m_options.Tls;
    return settings;
}

bool TFtpServer::GiveToUser(const QString& path) const {
    if (m_options.Kind != Vsftpd)
        return true; // pyftpdlib runs as whoever runs the test
    const passwd* user = ::getpwnam(User.toUtf8().constData());
    return user && ::chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) == 0;
}

QString TFtpServer::Start(const TOptions& options) {
    Stop();
    m_options = options;
    if (!m_dir.isValid())
        return QStringLiteral("no scratch folder");
    const QString s = m_dir.path();
    QDir().mkpath(Root());
    if (options.Tls && !QFile::exists(s + QStringLiteral("/cert.pem"))) {
        const QString problem = MakeCertificate(s);
        if (!problem.isEmpty())
            return problem;
    }
    // A restart keeps the port, so clients come back to the same address.
    if (m_port == 0)
        m_port = TServerProcess::FreePort();
    if (options.Kind == Pyftpdlib) {
        if (!QFile::exists(QStringLiteral("/usr/lib/python3/dist-packages/pyftpdlib/__init__.py")))
            return QStringLiteral("pyftpdlib is not installed (package python3-pyftpdlib)");
        const QString script = QStringLiteral(VAULTORA_SOURCE_DIR "/tests/net/ftp_server.py");
        QStringList arguments{script, QString::number(m_port), Root(), User, Password};
        if (options.Tls)
            arguments << QStringLiteral("--tls") << s + QStringLiteral("/cert.pem") << s + QStringLiteral("/key.pem");
        if (options.SizeOnFolders)
            arguments << QStringLiteral("--size-on-folders");
        if (options.NoMlsd)
            arguments << QStringLiteral("--no-mlsd");
        if (options.PasvElsewhere)
            arguments << QStringLiteral("--pasv-elsewhere");
        if (!m_process.StartListening(QStringLiteral("/usr/bin/python3"), arguments, m_port))
            return QStringLiteral("pyftpdlib did not start: ") + m_process.Output().right(2000);
        m_running = true;
        return {};
    }
    if (::geteuid() != 0)
        return QStringLiteral("vsftpd needs root here (a system user logs in)");
    if (!QFile::exists(QStringLiteral("/usr/sbin/vsftpd")))
        return QStringLiteral("vsftpd is not installed (package vsftpd)");
    // The user may be left from an earlier run; adding it again fails harmlessly.
    Run(QStringLiteral("/usr/sbin/useradd"), {QStringLiteral("-M"), QStringLiteral("-d"), QStringLiteral("/"),
                                              QStringLiteral("-s"), QStringLiteral("/bin/bash"), User});
    // vsftpd enters the home folder before local_root: one that always exists, shared by servers
    // of tests running at the same time.
    Run(QStringLiteral("/usr/sbin/usermod"), {QStringLiteral("-d"), QStringLiteral("/"), User});
    if (!Run(QStringLiteral("/usr/sbin/chpasswd"), {}, (User + u':' + Password + u'\n').toUtf8()))
        return QStringLiteral("chpasswd could not set the password");
    QFile::setPermissions(s, QFileDevice::Permissions(0x7755));
    if (!GiveToUser(Root()))
        return QStringLiteral("cannot hand the folder to the FTP user");
    QDir().mkpath(QStringLiteral("/var/run/vsftpd/empty"));
    QString text = QStringLiteral("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=%1\n"
                                  "background=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\n"
                                  "local_umask=022\npasv_enable=YES\n"
                                  "pasv_address=127.0.0.1\npam_service_name=vsftpd\n"
                                  "secure_chroot_dir=/var/run/vsftpd/empty\nlocal_root=%2\n"
                                  "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\nmax_per_ip=0\n"
                                  "utf8_filesystem=YES\nxferlog_enable=NO\n")
                       .arg(m_port)
                       .arg(Root());
    if (options.Tls)
        text += QStringLiteral("ssl_enable=YES\nrsa_cert_file=%1/cert.pem\nrsa_private_key_file=%1/key.pem\n"
                               "force_local_logins_ssl=YES\nforce_local_data_ssl=YES\nssl_tlsv1=YES\n"
                               "require_ssl_reuse=NO\n")
                    .arg(s);
    const QString conf = s + QStringLiteral("/vsftpd.conf");
    QFile file(conf);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QStringLiteral("cannot write vsftpd.conf");
    file.write(text.toUtf8());
    file.close();
    if (!m_process.StartListening(QStringLiteral("/usr/sbin/vsftpd"), {conf}, m_port))
        return QStringLiteral("vsftpd did not start: ") + m_process.Output().right(2000);
    m_running = true;
    return {};
}

void TFtpServer::Stop() {
    if (!m_running)
        return;
    m_process.Stop();
    m_running = false;
}
