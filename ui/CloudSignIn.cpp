#include "ui/CloudSignIn.h"

#include "cloud/TCloudDrive.h"
#include "cloud/TLoopbackCodeListener.h"
#include "ui/TAuthWaitDlg.h"
#include "ui/TInputBox.h"
#include "ui/TMessageBox.h"
#include "ui/TProductSite.h"
#include "ui/UiTr.h"

#include <QFile>
#include <QUrl>

namespace {

const QString CancelledText = QStringLiteral("Authorization cancelled");

// Leaves the client without handlers that point into this sign-in once it is over.
struct THandlerReset {
    TCloudDrive& Drive;
    ~THandlerReset() {
        Drive.OnAuthorizationCodeRequest = nullptr;
        Drive.RedirectURI.clear();
    }
};

} // namespace

bool SignInToCloud(QWidget* parent, TCloudDrive& drive, quint16 port) {
    const THandlerReset reset{drive};
    // A new sign-in: a refresh token the service refused is not tried again. It stays when the
    // user gives up.
    const QString previousToken = drive.RefreshToken();
    drive.SetRefreshToken({});
    if (port == 0)
        port = CloudLoopbackPort(drive.Service());
    bool paste = false;
    QString listenError;
    drive.RedirectURI = LoopbackRedirectUri(port);
    drive.OnAuthorizationCodeRequest = [&](const QString& url) {
        const QString result = TAuthWaitDlg::Wait(parent, port, url, &listenError);
        // Without the loopback port (another program holds it) the pasted code still works.
        if (result == TAuthWaitDlg::PasteResult() || result.isEmpty()) {
            paste = true;
            return TCodeAnswer{QStringLiteral("cancel"), {}};
        }
        return TCodeAnswer{result, {}};
    };
    bool ok = drive.Authorize();
    if (!ok && paste) {
        // The service shows the code on its own page when the sign-in names no redirect.
        drive.RedirectURI.clear();
        drive.OnAuthorizationCodeRequest = [&](const QString& url) {
            if (!listenError.isEmpty())
                TMessageBox::Information(parent, listenError);
            TProductSite::Open(QUrl(url, QUrl::StrictMode));
            QString code;
            if (!TInputBox::GetText(parent, Tr(u"Code request"), Tr(u"Enter code here:"), code))
                return TCodeAnswer{QStringLiteral("cancel"), {}};
            return TCodeAnswer{code.trimmed(), {}};
        };
        ok = drive.Authorize();
    }
    if (!ok) {
        drive.SetRefreshToken(previousToken);
        if (drive.ErrorText() != CancelledText)
            TMessageBox::Error(parent, Tr(u"Please authorize the app.") + QStringLiteral("\n\n") + drive.ErrorText());
        return false;
    }
    if (!SaveRefreshToken(drive.Service(), drive.RefreshToken())) {
        TMessageBox::Error(parent, Tr(u"Unable to save the file: ") + TokenFilePath(drive.Service()));
        return false;
    }
    return true;
}

void ResetCloudAccess(QWidget* parent, TCloudService service, TCloudDrive* drive) {
    if (drive)
        drive->SetRefreshToken({});
    const QString path = TokenFilePath(service);
    if (QFile::exists(path) && !QFile::remove(path)) {
        TMessageBox::Error(parent, Tr(u"Unable to delete the file: ") + path);
        return;
    }
    TMessageBox::Information(parent, Tr(u"Tokens cleared. Access has been reset."));
}
