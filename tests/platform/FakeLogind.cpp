// A stand-in for systemd-logind on a private bus, for the tests of the logind clients. It owns
// org.freedesktop.login1 and prints every call it gets:
//   "inhibit WHAT|WHO|WHY|MODE"  a lock was handed out (the write end of a pipe)
//   "released"                   every copy of that descriptor was closed
//   "poweroff INTERACTIVE"       a power-off request (refused with --refuse-power-off)
// Usage: vaultora-fake-logind BUS-ADDRESS [--refuse-power-off]

#include "platform/LogindNames.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusUnixFileDescriptor>
#include <QSocketNotifier>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

void Say(const QString& line) {
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

} // namespace

class TFakeLogindManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    explicit TFakeLogindManager(bool refusePowerOff)
        : m_refusePowerOff(refusePowerOff) {}

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            sendErrorReply(QDBusError::Failed, QStringLiteral("no pipe"));
            return {};
        }
        // The reading end stays here: it reports end of file once the client has closed its
        // copy, which is how logind notices a released lock.
        auto* notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [notifier, fd = ends[0]] {
            char byte;
            if (::read(fd, &byte, 1) <= 0) {
                notifier->setEnabled(false);
                ::close(fd);
                Say(QStringLiteral("released"));
                notifier->deleteLater();
            }
        });
        Say(QStringLiteral("inhibit ") + what + u'|' + who + u'|' + why + u'|' + mode);
        const QDBusUnixFileDescriptor handed(ends[1]); // takes a copy
        ::close(ends[1]);
        return handed;
    }

    void PowerOff(bool interactive) {
        Say(QStringLiteral("poweroff ") + (interactive ? QStringLiteral("true") : QStringLiteral("false")));
        if (m_refusePowerOff)
            sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Access denied"));
    }

private:
    bool m_refusePowerOff;
};

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        Say(QStringLiteral("failed: no bus address"));
        return 64;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(args.first(), QStringLiteral("fake-logind"));
    TFakeLogindManager manager(args.contains(QStringLiteral("--refuse-power-off")));
    if (!bus.isConnected() || !bus.registerObject(LogindNames::Path(), &manager, QDBusConnection::ExportAllSlots) ||
        !bus.registerService(LogindNames::Service())) {
        Say(QStringLiteral("failed: ") + bus.lastError().message());
        return 1;
    }
    Say(QStringLiteral("ready"));
    return QCoreApplication::exec();
}

#include "FakeLogind.moc"
