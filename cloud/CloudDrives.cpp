#include "cloud/TCloudDrive.h"
#include "cloud/TDropbox.h"
#include "cloud/TGoogleDrive.h"
#include "cloud/TOneDrive.h"
#include "core/settings/TAppGlobals.h"

// One case per service: the client, its application keys and the scopes a job needs.
std::unique_ptr<TCloudDrive> MakeCloudDrive(TCloudService service, const TCloudEndpoints& endpoints) {
    const TAppGlobals& app = App();
    switch (service) {
    case TCloudService::Dropbox: {
        auto client = std::make_unique<TDropbox>(endpoints);
        client->ClientID = app.DropboxClientId;
        client->ClientSecret = app.DropboxClientSecret;
        client->Scopes = TDropbox::JobScopes();
        return client;
    }
    case TCloudService::GoogleDrive: {
        auto client = std::make_unique<TGoogleDrive>(endpoints);
        client->ClientID = app.GoogleClientId;
        client->ClientSecret = app.GoogleClientSecret;
        client->SetScope(TGoogleDrive::JobScopes());
        client->LoopbackPort = CloudLoopbackPort(service);
        return client;
    }
    case TCloudService::OneDrive: {
        auto client = std::make_unique<TOneDrive>(endpoints);
        client->ClientID = app.OneDriveClientId; // a public client: no secret
        client->Scopes = TOneDrive::JobScopes();
        return client;
    }
    }
    return nullptr;
}

quint16 CloudLoopbackPort(TCloudService service) {
    switch (service) {
    case TCloudService::Dropbox:
        return 8887;
    case TCloudService::GoogleDrive:
        return 8889;
    case TCloudService::OneDrive:
        return 8890;
    }
    return 8887;
}
