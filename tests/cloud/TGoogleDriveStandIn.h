#pragma once

#include "../net/TServerProcess.h"

#include "cloud/CloudServices.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The stand-in Google Drive API server (googledrive_standin.py) on a private loopback port, with
// the control calls the tests use. Paths below are "/" paths from the drive's top folder.
class TGoogleDriveStandIn {
public:
    // Starts the server; listing pages hold at most pageSize items.
    bool Start(int pageSize = 1000);
    void Stop() { FProcess.Stop(); }
    QString Output() { return FProcess.Output(); }
    QString Base() const;
    TCloudEndpoints Endpoints() const;
    // The `cloud` group of a Vaultora.conf that points the programs at the stand-in.
    QByteArray ConfigText() const;

    QJsonObject Control(const QString& command, const QJsonObject& argument = {});
    QString NewRefreshToken();
    void Fault(const QJsonObject& fault) { Control(QStringLiteral("fault"), fault); }
    QJsonObject State() { return Control(QStringLiteral("state")); }
    // Path -> size (-1 for folders); a repeated name gets " #2", " #3" ...
    QJsonObject Tree() { return State().value(QStringLiteral("tree")).toObject(); }
    QStringList Calls();
    void ClearCalls() { Control(QStringLiteral("clear_calls")); }
    // The content of the one file at path; empty (and ok false) when there is none or several.
    QByteArray File(const QString& path, bool* ok = nullptr);
    // How many items the path names.
    int Count(const QString& path);
    bool Exists(const QString& path) { return Count(path) > 0; }
    // Makes an item from outside (a new one even when the name is taken); its id.
    QString Put(const QString& path, const QByteArray& data, bool folder = false, const QJsonObject& extra = {});

private:
    TServerProcess FProcess;
    quint16 FPort = 0;
};
