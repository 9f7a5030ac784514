#pragma once

#include "../net/TServerProcess.h"

#include "cloud/CloudServices.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The stand-in Dropbox API server (dropbox_standin.py) on a private loopback port, with the
// control calls the tests use.
class TDropboxStandIn {
public:
    // Starts the server; listing pages hold pageSize entries.
    bool Start(int pageSize = 3);
    void Stop() { FProcess.Stop(); }
    QString Output() { return FProcess.Output(); }
    quint16 Port() const { return FPort; }
    QString Base() const;
    // The endpoints of the stand-in for a client.
    TCloudEndpoints Endpoints() const;
    // The `cloud` group of a Vaultora.conf that points the programs at the stand-in.
    QByteArray ConfigText() const;

    QJsonObject Control(const QString& command, const QJsonObject& argument = {});
    // A refresh token the stand-in accepts.
    QString NewRefreshToken();
    void Fault(const QJsonObject& fault) { Control(QStringLiteral("fault"), fault); }
    QJsonObject State() { return Control(QStringLiteral("state")); }
    QStringList Calls();
    void ClearCalls() { Control(QStringLiteral("clear_calls")); }
    // The stored bytes of a file; empty (and ok false) when there is none.
    QByteArray File(const QString& path, bool* ok = nullptr);
    bool Exists(const QString& path) {
        return Control(QStringLiteral("exists"), QJsonObject{{QStringLiteral("path"), path}})
            .value(QStringLiteral("exists"))
            .toBool();
    }

private:
    TServerProcess FProcess;
    quint16 FPort = 0;
};
