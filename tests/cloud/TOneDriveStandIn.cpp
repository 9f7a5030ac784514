#include "TOneDriveStandIn.h"

#include "net/THttpClient.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>

bool TOneDriveStandIn::Start(int pageSize) {
    FContentPort = TServerProcess::FreePort();
    do
        FPort = TServerProcess::FreePort();
    while (FPort == FContentPort);
    // The content port listens before the main one, so the main one's readiness covers both.
    return FProcess.StartListening(QStringLiteral("/usr/bin/python3"),
                                   {QStringLiteral(VAULTORA_SOURCE_DIR "/tests/cloud/onedrive_standin.py"),
                                    QString::number(FPort), QString::number(FContentPort),
                                    QStringLiteral("--page-size"), QString::number(pageSize)},
                                   FPort);
}

QString TOneDriveStandIn::Base() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(FPort);
}

TCloudEndpoints TOneDriveStandIn::Endpoints() const {
    TCloudEndpoints endpoints;
    endpoints.OneDriveGraph = Base() + QStringLiteral("/v1.0");
    endpoints.OneDriveAuthorize = Base() + QStringLiteral("/common/oauth2/v2.0/authorize");
    endpoints.OneDriveToken = Base() + QStringLiteral("/common/oauth2/v2.0/token");
    return endpoints;
}

QByteArray TOneDriveStandIn::ConfigLines() const {
    const QByteArray base = Base().toLatin1();
    return "onedrive_graph=" + base + "/v1.0\nonedrive_authorize=" + base +
           "/common/oauth2/v2.0/authorize\nonedrive_token=" + base + "/common/oauth2/v2.0/token\n";
}

QJsonObject TOneDriveStandIn::Control(const QString& command, const QJsonObject& argument) {
    THttpClient http;
    THttpRequest request;
    request.Url = Base() + QStringLiteral("/test/") + command;
    request.SetJsonBody(argument);
    const THttpResponse response = http.Send(request);
    return QJsonDocument::fromJson(response.Body).object();
}

QString TOneDriveStandIn::NewRefreshToken() {
    return Control(QStringLiteral("refresh")).value(QStringLiteral("refresh_token")).toString();
}

QStringList TOneDriveStandIn::Calls() {
    QStringList calls;
    for (const QJsonValue call : State().value(QStringLiteral("calls")).toArray())
        calls.append(call.toString());
    return calls;
}

QStringList TOneDriveStandIn::ContentAuthorizations() {
    QStringList seen;
    for (const QJsonValue call : State().value(QStringLiteral("content_auth")).toArray())
        seen.append(call.toString());
    return seen;
}

QByteArray TOneDriveStandIn::File(const QString& path, bool* ok) {
    THttpClient http;
    THttpRequest request;
    request.Url = Base() + QStringLiteral("/test/file");
    request.SetJsonBody(QJsonObject{{QStringLiteral("path"), path}});
    QBuffer content; // the answer's body may be larger than the client keeps of an error answer
    content.open(QIODevice::WriteOnly);
    request.DownloadDevice = &content;
    const THttpResponse response = http.Send(request);
    if (ok != nullptr)
        *ok = response.Status == 200;
    return response.Status == 200 ? content.data() : QByteArray();
}
