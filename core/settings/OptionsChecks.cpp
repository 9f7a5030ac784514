#include "core/settings/OptionsChecks.h"

#include "core/base/TextFormat.h"
#include "core/settings/TAppGlobals.h"

#include <QFileInfo>

namespace {

bool IsExistingFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

} // namespace

QString CheckOptionsForOK(const TOptions& edited) {
    if (edited.General.ProtectConfigurationbyPassword && edited.General.strProtectConfiguration_Password.isEmpty())
        return TranslateText(QStringLiteral("Please specify a password for configuration protection."));
    if (!IsExistingFolder(edited.General.PathForTempFiles))
        return TranslateText(QStringLiteral("Please choose a correct path for the temporary files."));
    if (!IsExistingFolder(edited.Logging.PathForLogFiles))
        return TranslateText(QStringLiteral("Please choose a correct path for the log files."));
    if (edited.General.PathForTempFiles.trimmed() == edited.Logging.PathForLogFiles.trimmed())
        return TranslateText(QStringLiteral("Unable to set the same path for temporary files and log files."));
    return {};
}

QString CheckPasswordPair(const QString& password, const QString& confirmation, QString* accepted) {
    const QString trimmed = password.trimmed();
    if (trimmed != confirmation.trimmed())
        return TranslateText(QStringLiteral("Passwords do not match."));
    if (accepted)
        *accepted = trimmed;
    return {};
}

bool ConfigurationPasswordMatches(const TOptions& options, const QString& input) {
    return input.trimmed() == options.General.strProtectConfiguration_Password;
}

QString DontLogInternalFilesCaption() {
    // "(*%s, *.%s)": the stored job files' extension carries its dot, the list files' does not.
    return FormatText(TranslateText(QStringLiteral("Do not log copying of the internal database files (*%s, *.%s)")),
                      {App().RemoteJobFileExtension, QStringLiteral("vll")});
}
