#include "platform/TDBusDesktopNotifier.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

TDBusDesktopNotifier::TDBusDesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus) {}

void TDBusDesktopNotifier::Notify(const QString& summary, const QString& body) {
    if (!m_bus.isConnected()) {
        Fail(QStringLiteral("No session bus: ") + m_bus.lastError().message());
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service(), Path(), Interface(), QStringLiteral("Notify"));
    // The service reads the body as simple markup: the characters that make markup are escaped,
    // so job names and paths show as they are.
    QString text = body;
    text.replace(u'&', QStringLiteral("&amp;"))
        .replace(u'<', QStringLiteral("&lt;"))
        .replace(u'>', QStringLiteral("&gt;"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), IconName()},
                            {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}};
    call << ApplicationName() << uint(0) << IconName() << summary << text << QStringList() << hints
         << int(ExpireTimeoutMs);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        const QDBusPendingReply<uint> reply = *finished;
        if (reply.isError())
            Fail(reply.error().message());
        finished->deleteLater();
        Q_EMIT Answered();
    });
}

void TDBusDesktopNotifier::Fail(const QString& why) {
    if (m_failureReported)
        return;
    m_failureReported = true;
    if (OnFailure)
        OnFailure(why);
}
