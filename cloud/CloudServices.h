#pragma once

// Room cloud/: the cloud drive clients, their sign-in and token files, and the cloud branch of the
// storage operations. May use core/, net/ and storage/.

#include <QString>

// The three cloud services, named as job files and the Connect menu name them.
enum class TCloudService { Dropbox, GoogleDrive, OneDrive };

// "DropBox", "Google Drive", "One Drive".
QString CloudServiceName(TCloudService service);
// The service of a job's Cloud.ServiceName (letter case ignored; on command lines also without
// the blank, "googledrive"); false for an unknown name.
bool CloudServiceFromName(const QString& name, TCloudService& service);
// "rt_d.dt", "rt_g.dt", "rt_o.dt".
QString TokenFileName(TCloudService service);
// The token file in the program's data folder.
QString TokenFilePath(TCloudService service);

// The refresh token kept in the service's token file; empty when there is none or it cannot be
// read (the events log then says why).
QString LoadRefreshToken(TCloudService service);
// Replaces the token file atomically (mode 0600); false when it could not be written.
bool SaveRefreshToken(TCloudService service, const QString& token);

// The services' addresses. Defaults are the real hosts; the `cloud` group of
// $XDG_CONFIG_HOME/Vaultora/Vaultora.conf may replace each (base addresses without a trailing
// slash), so that tests and special set-ups reach a stand-in.
struct TCloudEndpoints {
    QString DropboxApi = QStringLiteral("https://api.dropboxapi.com");
    QString DropboxContent = QStringLiteral("https://content.dropboxapi.com");
    QString DropboxAuthorize = QStringLiteral("https://www.dropbox.com/oauth2/authorize");
    QString DropboxToken = QStringLiteral("https://api.dropboxapi.com/oauth2/token");
    QString OneDriveGraph = QStringLiteral("https://graph.microsoft.com/v1.0");
    QString OneDriveAuthorize = QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize");
    QString OneDriveToken = QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token");
    QString GoogleDriveApi = QStringLiteral("https://www.googleapis.com/drive/v3");
    QString GoogleDriveUpload = QStringLiteral("https://www.googleapis.com/upload/drive/v3");
    QString GoogleDriveAuthorize = QStringLiteral("https://accounts.google.com/o/oauth2/auth");
    QString GoogleDriveToken = QStringLiteral("https://accounts.google.com/o/oauth2/token");
};

// The addresses from the configuration file (see above). An address that is not https, or http
// to a loopback host, is ignored with an events-log line and the default stays.
TCloudEndpoints LoadCloudEndpoints();
// The same from a given settings file (tests).
TCloudEndpoints LoadCloudEndpoints(const QString& configFile);
// $XDG_CONFIG_HOME/Vaultora/Vaultora.conf (~/.config when XDG_CONFIG_HOME is not set).
QString CloudConfigFilePath();
