#include "TDropboxStandIn.h"

#include "net/THttpClient.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>

bool TDropboxStandIn::Start(int pageSize) {
    FPort = TServerProcess::FreePort();
    return FProcess.StartListening(QStringLiteral("/usr/bin/python3"),
                                   {QStringLiteral(VAULTORA_SOURCE_DIR "/tests/cloud/dropbox_standin.py"),
                                    QString::number(FPort), QStringLiteral("--page-size"), QString::number(pageSize)},
                                   FPort);
}

QString TDropboxStandIn::Base() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(FPort);
}

TCloudEndpoints TDropboxStandIn::Endpoints() const {
    TCloudEndpoints endpoints;
    endpoints.DropboxApi = Base();
    endpoints.DropboxContent = Base();
    endpoints.DropboxAuthorize = Base() + QStringLiteral("/oauth2/authorize");
    endpoints.DropboxToken = Base() + QStringLiteral("/oauth2/token");
    return endpoints;
}

QByteArray TDropboxStandIn::ConfigText() const {
    const QByteArray base = Base().toLatin1();
    return "[cloud]\ndropbox_api=" + base + "\ndropbox_content=" + base + "/\ndropbox_authorize=" + base +
           "/oauth2/authorize\ndropbox_token=" + base + "/oauth2/token\n";
}

QJsonObject TDropboxStandIn::Control(const QString& command, const QJsonObject& argument) {
    THttpClient http;
    THttpRequest request;
    request.Url = Base() + QStringLiteral("/test/") + command;
    request.SetJsonBody(argument);
    const THttpResponse response = http.Send(request);
    return QJsonDocument::fromJson(response.Body).object();
}

QString TDropboxStandIn::NewRefreshToken() {
    return Control(QStringLiteral("refresh")).value(QStringLiteral("refresh_token")).toString();
}

QStringList TDropboxStandIn::Calls() {
    QStringList calls;
    for (const QJsonValue call : State().value(QStringLiteral("calls")).toArray())
        calls.append(call.toString());
    return calls;
}

QByteArray TDropboxStandIn::File(const QString& path, bool* ok) {
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
