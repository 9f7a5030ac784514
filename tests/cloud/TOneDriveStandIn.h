#pragma once

#include "../net/TServerProcess.h"

#include "cloud/CloudServices.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The stand-in Graph server (onedrive_standin.py) on a private loopback port, with its second
// "content host" port, and the control calls the tests use.
class TOneDriveStandIn {
public:
    // Starts the server; listing pages hold pageSize entries.
    bool Start(int pageSize = 3);
    void Stop() { FProcess.Stop(); }
    QString Output() { return FProcess.Output(); }
    quint16 Port() const { return FPort; }
    quint16 ContentPort() const { return FContentPort; }
    QString Base() const;
    // The endpoints of the stand-in for a client.
    TCloudEndpoints Endpoints() const;
    // The `cloud` group lines of a Vaultora.conf that point the programs at the stand-in.
    QByteArray ConfigLines() const;

    QJsonObject Control(const QString& command, const QJsonObject& argument = {});
    // A refresh token the stand-in accepts.
    QString NewRefreshToken();
    void Fault(const QJsonObject& fault) { Control(QStringLiteral("fault"), fault); }
    QJsonObject State() { return Control(QStringLiteral("state")); }
    QStringList Calls();
    void ClearCalls() { Control(QStringLiteral("clear_calls")); }
    // Requests that brought an Authorization header to the content host.
    QStringList ContentAuthorizations();
    // The stored bytes of a file (path as stored); empty (and ok false) when there is none.
    QByteArray File(const QString& path, bool* ok = nullptr);
    bool Exists(const QString& path) {
        return Control(QStringLiteral("exists"), QJsonObject{{QStringLiteral("path"), path}})
            .value(QStringLiteral("exists"))
            .toBool();
    }

private:
    TServerProcess FProcess;
    quint16 FPort = 0;
    quint16 FContentPort = 0;
};
