#include "core/base/AppFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString DefaultApplicationDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Vaultora");
}

QString DefaultProgramDataDirectory() {
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (QFileInfo::exists(exeDir + QStringLiteral("/transl.dt")))
        return exeDir;
    const QString installed = QDir::cleanPath(exeDir + QStringLiteral("/../share/vaultora"));
    if (QFileInfo(installed).isDir())
        return installed;
    return exeDir;
}

bool UsesLegacyJobFileNames(const QString& applicationDirectory) {
    return QFileInfo::exists(applicationDirectory + QStringLiteral("/jobs.vll"));
}

QString JobsListFileNameFor(const QString& applicationDirectory) {
    return UsesLegacyJobFileNames(applicationDirectory) ? QStringLiteral("jobs.vll") : QStringLiteral("jobslist.vll");
}

QString RemoteJobFileExtensionFor(const QString& applicationDirectory) {
    return UsesLegacyJobFileNames(applicationDirectory) ? QStringLiteral(".vlk") : QStringLiteral(".vlj");
}
