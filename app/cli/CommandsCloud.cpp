// cloud-auth and cloud-reset: signing the program in to a cloud drive (the token file the jobs
// use) and forgetting that sign-in; and the cloud:SERVICE/path destinations of "new".
#include "app/cli/Commands.h"
#include "app/cli/TCliContext.h"

#include "cloud/CloudServices.h"
#include "cloud/TCloudDrive.h"
#include "cloud/TLoopbackCodeListener.h"
#include "core/settings/TAppGlobals.h"

#include <QFile>

#include <csignal>

namespace {

volatile std::sig_atomic_t StopWaiting = 0;

void OnStopSignal(int) {
    StopWaiting = 1;
}

// The services this build has clients for, as the command line names them.
QString CliServiceNames() {
    QStringList names;
    for (const TCloudService service : {TCloudService::Dropbox, TCloudService::GoogleDrive, TCloudService::OneDrive}) {
        if (MakeCloudDrive(service, {}))
            names.append(CloudServiceName(service).remove(u' ').toLower());
    }
    return names.join(u'|');
}

bool TakeService(TCliContext& context, const QString& usage, TCloudService& service) {
    if (context.Args.size() != 1) {
        context.Usage(usage);
        return false;
    }
    const QString name = context.Args.takeFirst();
    if (!CloudServiceFromName(name, service) || !MakeCloudDrive(service, {})) {
        context.Err << "vaultora-cli: unknown or unsupported cloud service: " << name << " (" << CliServiceNames()
                    << ")" << Qt::endl;
        return false;
    }
    return true;
}

} // namespace

int CommandCloudAuth(TCliContext& context) {
    const QString usage = QStringLiteral("usage: cloud-auth %1 [--code CODE] [--port N]").arg(CliServiceNames());
    QString code, portText;
    const bool hasCode = context.TakeOption(QStringLiteral("--code"), &code);
    const bool hasPort = context.TakeOption(QStringLiteral("--port"), &portText);
    TCloudService service = TCloudService::Dropbox;
    if (!TakeService(context, usage, service))
        return ceUsage;
    quint16 port = CloudLoopbackPort(service);
    if (hasPort) {
        bool ok = false;
        const uint value = portText.toUInt(&ok);
        if (!ok || value == 0 || value > 65535)
            return context.Usage(QStringLiteral("--port takes a port number"));
        port = quint16(value);
    }
    if (hasCode && code.trimmed().isEmpty())
        return context.Usage(QStringLiteral("--code takes the code the service showed"));
    if (!context.UseDataDirectory())
        return ceErrors;

    const TAppGlobals& app = App();
    const std::unique_ptr<TCloudDrive> drive = MakeCloudDrive(service, LoadCloudEndpoints());
    TCloudDrive& client = *drive;
    client.Http().Proxy = app.Options.Proxy;
    if (client.ClientID.isEmpty()) {
        context.Err << "vaultora-cli: this build has no " << CloudServiceName(service)
                    << " application key (mcs.dt); see the README" << Qt::endl;
        return ceErrors;
    }

    if (hasCode) {
        // A code the service showed after a sign-in at the address printed below (no redirect).
        client.OnAuthorizationCodeRequest = [&code](const QString&) { return TCodeAnswer{code.trimmed(), {}}; };
    } else {
        client.RedirectURI = LoopbackRedirectUri(port);
        client.OnAuthorizationCodeRequest = [&](const QString& url) {
            TLoopbackCodeListener listener;
            if (!listener.Start(port, StateOfAuthorizationUrl(url)))
                return TCodeAnswer{{},
                                   QStringLiteral("Cannot wait on 127.0.0.1:%1: ").arg(port) + listener.ErrorString()};
            context.Out << "Open this address in your browser and allow the access:\n"
                        << url << "\n\n"
                        << "Waiting for the browser on 127.0.0.1:" << port << " (Ctrl-C to give up) ...\n"
                        << "Without a browser on this computer, open instead\n"
                        << client.CodeAuthorizationUrl() << "\n"
                        << "and run: vaultora-cli cloud-auth " << CloudServiceName(service).remove(u' ').toLower()
                        << " --code CODE" << Qt::endl;
            StopWaiting = 0;
            struct sigaction action {
            }, previousInt{}, previousTerm{};
            action.sa_handler = &OnStopSignal;
            sigemptyset(&action.sa_mask);
            ::sigaction(SIGINT, &action, &previousInt);
            ::sigaction(SIGTERM, &action, &previousTerm);
            const QString result = listener.WaitForCode([] { return StopWaiting != 0; });
            ::sigaction(SIGINT, &previousInt, nullptr);
            ::sigaction(SIGTERM, &previousTerm, nullptr);
            return TCodeAnswer{result, {}};
        };
    }
    if (!client.Authorize()) {
        context.Err << "vaultora-cli: " << client.ErrorText() << Qt::endl;
        return client.ErrorText() == u"Authorization cancelled" ? ceCancelled : ceErrors;
    }
    if (client.RefreshToken().isEmpty()) {
        context.Err << "vaultora-cli: the service gave no refresh token" << Qt::endl;
        return ceErrors;
    }
    if (!SaveRefreshToken(service, client.RefreshToken())) {
        context.Err << "vaultora-cli: cannot write " << TokenFilePath(service) << Qt::endl;
        return ceErrors;
    }
    context.Out << "Signed in to " << CloudServiceName(service) << "." << Qt::endl;
    return ceOk;
}

int CommandCloudReset(TCliContext& context) {
    TCloudService service = TCloudService::Dropbox;
    if (!TakeService(context, QStringLiteral("usage: cloud-reset %1").arg(CliServiceNames()), service))
        return ceUsage;
    if (!context.UseDataDirectory())
        return ceErrors;
    const QString path = TokenFilePath(service);
    if (QFile::exists(path) && !QFile::remove(path)) {
        context.Err << "vaultora-cli: cannot remove " << path << Qt::endl;
        return ceErrors;
    }
    context.Out << TranslateText(QStringLiteral("Tokens cleared. Access has been reset.")) << Qt::endl;
    return ceOk;
}

bool ParseCloudDestination(TCliContext& context, const QString& text, TDestinationSettings& destination) {
    // cloud:SERVICE/sub/folder; the service as the Connect menu names it, letter case ignored.
    const QString rest = text.mid(int(qstrlen("cloud:")));
    const qsizetype slash = rest.indexOf(u'/');
    const QString name = slash < 0 ? rest : rest.left(slash);
    QString folder = slash < 0 ? QString() : rest.mid(slash);
    TCloudService service = TCloudService::Dropbox;
    if (!CloudServiceFromName(name, service)) {
        context.Err << "vaultora-cli: unknown cloud service: " << name << " (" << CliServiceNames() << ")" << Qt::endl;
        return false;
    }
    if (!MakeCloudDrive(service, {})) {
        context.Err << "vaultora-cli: this build cannot back up to " << CloudServiceName(service) << " yet" << Qt::endl;
        return false;
    }
    if (folder.contains(u'\\')) {
        context.Err << "vaultora-cli: a cloud path is written with \"/\", not \"\\\": " << text << Qt::endl;
        return false;
    }
    for (const QString& part : folder.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u"." || part == u"..") {
            context.Err << "vaultora-cli: a cloud path may not hold \".\" or \"..\": " << text << Qt::endl;
            return false;
        }
    }
    while (folder.endsWith(u'/'))
        folder.chop(1);
    destination.DestinationType = dtCloud;
    destination.Cloud.ServiceName = CloudServiceName(service);
    destination.Cloud.Subfolder = folder.isEmpty() ? QStringLiteral("/") : folder;
    return true;
}
