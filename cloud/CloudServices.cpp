#include "cloud/CloudServices.h"

#include "core/format/FileCipher.h"
#include "core/settings/TAppGlobals.h"
#include "net/THttpClient.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

QString CloudServiceName(TCloudService service) {
    switch (service) {
    case TCloudService::Dropbox:
        return QStringLiteral("DropBox");
    case TCloudService::GoogleDrive:
        return QStringLiteral("Google Drive");
    case TCloudService::OneDrive:
        return QStringLiteral("One Drive");
    }
    return {};
}

bool CloudServiceFromName(const QString& name, TCloudService& service) {
    // "googledrive" and "GoogleDrive" name the service as well as "Google Drive" (command lines).
    const auto squeezed = [](QString text) { return text.remove(u' '); };
    for (const TCloudService candidate :
         {TCloudService::Dropbox, TCloudService::GoogleDrive, TCloudService::OneDrive}) {
        if (name.compare(CloudServiceName(candidate), Qt::CaseInsensitive) == 0 ||
            (!name.contains(u' ') && name.compare(squeezed(CloudServiceName(candidate)), Qt::CaseInsensitive) == 0)) {
            service = candidate;
            return true;
        }
    }
    return false;
}

QString TokenFileName(TCloudService service) {
    switch (service) {
    case TCloudService::Dropbox:
        return QStringLiteral("rt_d.dt");
    case TCloudService::GoogleDrive:
        return QStringLiteral("rt_g.dt");
    case TCloudService::OneDrive:
        return QStringLiteral("rt_o.dt");
    }
    return {};
}

QString TokenFilePath(TCloudService service) {
    return App().ApplicationDirectory + u'/' + TokenFileName(service);
}

QString LoadRefreshToken(TCloudService service) {
    return LoadEncipheredText(TokenFilePath(service));
}

bool SaveRefreshToken(TCloudService service, const QString& token) {
    return SaveEncipheredText(TokenFilePath(service), token);
}

QString CloudConfigFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Vaultora/Vaultora.conf");
}

TCloudEndpoints LoadCloudEndpoints() {
    return LoadCloudEndpoints(CloudConfigFilePath());
}

TCloudEndpoints LoadCloudEndpoints(const QString& configFile) {
    TCloudEndpoints endpoints;
    if (!QFileInfo::exists(configFile))
        return endpoints;
    QSettings settings(configFile, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("cloud"));
    const auto take = [&settings](const char* key, QString& field, bool base) {
        const QString name = QString::fromLatin1(key);
        if (!settings.contains(name))
            return;
        QString value = settings.value(name).toString().trimmed();
        if (base)
            while (value.endsWith(u'/'))
                value.chop(1);
        QString why;
        if (!THttpClient::AddressAllowed(value, &why)) {
            AddToEventsLog(QStringLiteral("Cloud address %s ignored: %s"), {name, why});
            return;
        }
        field = value;
    };
    take("dropbox_api", endpoints.DropboxApi, true);
    take("dropbox_content", endpoints.DropboxContent, true);
    take("dropbox_authorize", endpoints.DropboxAuthorize, false);
    take("dropbox_token", endpoints.DropboxToken, false);
    take("onedrive_graph", endpoints.OneDriveGraph, true);
    take("onedrive_authorize", endpoints.OneDriveAuthorize, false);
    take("onedrive_token", endpoints.OneDriveToken, false);
    take("googledrive_api", endpoints.GoogleDriveApi, true);
    take("googledrive_upload", endpoints.GoogleDriveUpload, true);
    take("googledrive_authorize", endpoints.GoogleDriveAuthorize, false);
    take("googledrive_token", endpoints.GoogleDriveToken, false);
    return endpoints;
}
