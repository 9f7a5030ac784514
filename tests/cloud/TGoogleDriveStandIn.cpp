#include "TGoogleDriveStandIn.h"

#include "net/THttpClient.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>

bool TGoogleDriveStandIn::Start(int pageSize) {
    FPort = TServerProcess::FreePort();
    return FProcess.StartListening(QStringLiteral("/usr/bin/python3"),
                                   {QStringLiteral(VAULTORA_SOURCE_DIR "/tests/cloud/googledrive_standin.py"),
                                    QString::number(FPort), QStringLiteral("--page-size"), QString::number(pageSize)},
                                   FPort);
}

QString TGoogleDriveStandIn::Base() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(FPort);
}

TCloudEndpoints TGoogleDriveStandIn::Endpoints() const {
    TCloudEndpoints endpoints;
    endpoints.GoogleDriveApi = Base() + QStringLiteral("/drive/v3");
    endpoints.GoogleDriveUpload = Base() + QStringLiteral("/upload/drive/v3");
    endpoints.GoogleDriveAuthorize = Base() + QStringLiteral("/o/oauth2/auth");
    endpoints.GoogleDriveToken = Base() + QStringLiteral("/o/oauth2/token");
    return endpoints;
}

QByteArray TGoogleDriveStandIn::ConfigText() const {
    const QByteArray base = Base().toLatin1();
    return "[cloud]\ngoogledrive_api=" + base + "/drive/v3/\ngoogledrive_upload=" + base +
           "/upload/drive/v3\ngoogledrive_authorize=" + base + "/o/oauth2/auth\ngoogledrive_token=" + base +
           "/o/oauth2/token\n";
}

QJsonObject TGoogleDriveStandIn::Control(const QString& command, const QJsonObject& argument) {
    THttpClient http;
    THttpRequest request;
    request.Url = Base() + QStringLiteral("/test/") + command;
    request.SetJsonBody(argument);
    const THttpResponse response = http.Send(request);
    return QJsonDocument::fromJson(response.Body).object();
}

QString TGoogleDriveStandIn::NewRefreshToken() {
    return Control(QStringLiteral("refresh")).value(QStringLiteral("refresh_token")).toString();
}

QStringList TGoogleDriveStandIn::Calls() {
    QStringList calls;
    for (const QJsonValue call : State().value(QStringLiteral("calls")).toArray())
        calls.append(call.toString());
    return calls;
}

QByteArray TGoogleDriveStandIn::File(const QString& path, bool* ok) {
    THttpClient http;
    THttpRequest request;
    request.Url = Base() + QStringLiteral("/test/file");
    request.SetJsonBody(QJsonObject{{QStringLiteral("path"), path}});
    QBuffer content; // the answer may be larger than the client keeps of an error answer
    content.open(QIODevice::WriteOnly);
    request.DownloadDevice = &content;
    const THttpResponse response = http.Send(request);
    if (ok != nullptr)
        *ok = response.Status == 200;
    return response.Status == 200 ? content.data() : QByteArray();
}

int TGoogleDriveStandIn::Count(const QString& path) {
    return Control(QStringLiteral("exists"), QJsonObject{{QStringLiteral("path"), path}})
        .value(QStringLiteral("count"))
        .toInt();
}

QString TGoogleDriveStandIn::Put(const QString& path, const QByteArray& data, bool folder, const QJsonObject& extra) {
    QJsonObject argument = extra;
    argument.insert(QStringLiteral("path"), path);
    argument.insert(QStringLiteral("data"), QString::fromLatin1(data.toBase64()));
    argument.insert(QStringLiteral("folder"), folder);
    return Control(QStringLiteral("put"), argument).value(QStringLiteral("id")).toString();
}
