#include "core/format/OptionsJson.h"

#include <QJsonArray>

QJsonObject OptionsToJson(const TOptions& o) {
    QJsonArray accounts;
    for (const TFTPAccount& a : o.FTPAccounts) {
        accounts.append(QJsonObject{
            {QStringLiteral("ID"), a.ID},
            {QStringLiteral("AccName"), a.AccName},
            {QStringLiteral("Host"), a.Host},
            {QStringLiteral("Port"), a.Port},
            {QStringLiteral("Username"), a.Username},
            {QStringLiteral("PasswordIsSet"), !a.Password.isEmpty()},
            {QStringLiteral("PassiveMode"), a.PassiveMode},
            {QStringLiteral("FTPS"), a.FTPS},
        });
    }
    return QJsonObject{
        {QStringLiteral("Language"),
         QJsonObject{
             {QStringLiteral("LanguageOfInterface"), o.Language.LanguageOfInterface},
             {QStringLiteral("iLanguage"), o.Language.iLanguage},
         }},
        {QStringLiteral("General"),
         QJsonObject{
             {QStringLiteral("RunProgramAtLogon"), o.General.RunProgramAtLogon},
             {QStringLiteral("BlockSleepModeifJobIsScheduled"), o.General.BlockSleepModeifJobIsScheduled},
             {QStringLiteral("ProtectConfigurationbyPassword"), o.General.ProtectConfigurationbyPassword},
             {QStringLiteral("strProtectConfiguration_PasswordIsSet"),
              !o.General.strProtectConfiguration_Password.isEmpty()},
             {QStringLiteral("ProcessPriority"), o.General.ProcessPriority},
             {QStringLiteral("PathForTempFiles"), o.General.PathForTempFiles},
         }},
        {QStringLiteral("Logging"),
         QJsonObject{
             {QStringLiteral("MaxNumberOfLogsForEachJob"), o.Logging.MaxNumberOfLogsForEachJob},
             {QStringLiteral("MaxNumberOfLinesInHistory"), o.Logging.MaxNumberOfLinesInHistory},
             {QStringLiteral("MaxNumberOfLinesInEventsLog"), o.Logging.MaxNumberOfLinesInEventsLog},
             {QStringLiteral("DontLogCopyingInternalFiles"), o.Logging.DontLogCopyingInternalFiles},
             {QStringLiteral("PathForLogFiles"), o.Logging.PathForLogFiles},
         }},
        {QStringLiteral("Processing"),
         QJsonObject{
             {QStringLiteral("RunOnlyOneJobAtATime"), o.Processing.RunOnlyOneJobAtATime},
             {QStringLiteral("IfDestinationNotAvailable_Retry_Times"),
              o.Processing.IfDestinationNotAvailable_Retry_Times},
             {QStringLiteral("IfDestinationNotAvailable_Wait_Sec"), o.Processing.IfDestinationNotAvailable_Wait_Sec},
             {QStringLiteral("IfDestinationNotAvailable_Then"), o.Processing.IfDestinationNotAvailable_Then},
             {QStringLiteral("PreventOtherAppsFromWritingDuringZipping"),
              o.Processing.PreventOtherAppsFromWritingDuringZipping},
             {QStringLiteral("RemovePreviousBackupIfCancelled"), o.Processing.RemovePreviousBackupIfCancelled},
             {QStringLiteral("DontUseBufferingForCopyOperations"), o.Processing.DontUseBufferingForCopyOperations},
             {QStringLiteral("SkipHiddenSystemFiles"), o.Processing.SkipHiddenSystemFiles},
             {QStringLiteral("SkipLockedFiles"), o.Processing.SkipLockedFiles},
         }},
        {QStringLiteral("ExcludedDirs"), QJsonArray::fromStringList(o.ExcludedDirs)},
        {QStringLiteral("Email"),
         QJsonObject{
             {QStringLiteral("SendEmailNotificationWhenFinishedBackup"),
              o.Email.SendEmailNotificationWhenFinishedBackup},
             {QStringLiteral("SendOnlyIfJobIscancelledDueToErrors"), o.Email.SendOnlyIfJobIscancelledDueToErrors},
             {QStringLiteral("RecipientEmail"), o.Email.RecipientEmail},
             {QStringLiteral("SMTPHost"), o.Email.SMTPHost},
             {QStringLiteral("SMTPPort"), o.Email.SMTPPort},
             {QStringLiteral("Username"), o.Email.Username},
             {QStringLiteral("PasswordIsSet"), !o.Email.Password.isEmpty()},
             {QStringLiteral("Security"), o.Email.Security},
         }},
        {QStringLiteral("FTPAccounts"), accounts},
        {QStringLiteral("Proxy"),
         QJsonObject{
             {QStringLiteral("Enabled"), o.Proxy.Enabled},
             {QStringLiteral("PrType"), o.Proxy.PrType},
             {QStringLiteral("Host"), o.Proxy.Host},
             {QStringLiteral("Port"), o.Proxy.Port},
             {QStringLiteral("Username"), o.Proxy.Username},
             {QStringLiteral("PasswordIsSet"), !o.Proxy.Password.isEmpty()},
         }},
        {QStringLiteral("LastFTPAccountID"), o.LastFTPAccountID},
    };
}
