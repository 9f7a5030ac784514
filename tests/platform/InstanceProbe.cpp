// The start of the windowed program up to the single-instance decision, as a real process for
// the hand-over tests. Prints its role ("primary", "independent", "handed-over", "failed: ...");
// as the running instance it then prints every request it receives ("show", "open PATH").

#include "core/base/AppFolders.h"
#include "core/startup/TCommandLine.h"
#include "platform/TSingleInstance.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

void Say(const QString& line) {
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    TCommandLine line;
    QString error;
    if (!line.Parse(QCoreApplication::arguments().mid(1), &error)) {
        Say(QStringLiteral("failed: ") + error);
        return 64;
    }
    const QString dataDirectory = line.DataDirectory.isEmpty() ? DefaultApplicationDirectory() : line.DataDirectory;
    const QString jobFile = line.JobFileToHandOver(RemoteJobFileExtensionFor(dataDirectory), QDir::currentPath());
    const QString request = jobFile.isEmpty() ? TSingleInstance::ShowRequest() : TSingleInstance::OpenRequest(jobFile);
    TSingleInstance instance(dataDirectory);
    switch (instance.Start(line.IsElevatedInstance(), request)) {
    case TSingleInstance::TRole::Primary:
        QObject::connect(&instance, &TSingleInstance::ShowRequested, &application, [] { Say(QStringLiteral("show")); });
        QObject::connect(&instance, &TSingleInstance::OpenRequested, &application,
                         [](const QString& path) { Say(QStringLiteral("open ") + path); });
        Say(QStringLiteral("primary"));
        return QCoreApplication::exec();
    case TSingleInstance::TRole::Independent:
        Say(QStringLiteral("independent"));
        return 0;
    case TSingleInstance::TRole::HandedOver:
        Say(QStringLiteral("handed-over"));
        return 0;
    case TSingleInstance::TRole::Failed:
        Say(QStringLiteral("failed: ") + instance.ErrorText());
        return 1;
    }
    return 1;
}
