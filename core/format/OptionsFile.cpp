#include "core/format/OptionsFile.h"

#include "core/format/FileCipher.h"
#include "core/format/TPrimitiveReader.h"
#include "core/format/TPrimitiveWriter.h"
#include "core/settings/TAppGlobals.h"

namespace {

// Bytes an FTP account takes at least: four empty texts, two Int32 and two Booleans.
constexpr qsizetype MinimumAccountBytes = 4 * 4 + 2 * 4 + 2;

void ReadOptions(TPrimitiveReader& reader, TOptions& o) {
    const int32_t version = reader.ReadInt32();
    if (version < 1 || version > OptionsFormatVersion)
        throw TDecodeError("unknown options format version");
    o.Language.LanguageOfInterface = reader.ReadText();
    o.General.RunProgramAtLogon = reader.ReadBoolean();
    o.General.ProtectConfigurationbyPassword = reader.ReadBoolean();
    o.General.BlockSleepModeifJobIsScheduled = version >= 8 ? reader.ReadBoolean() : true;
    o.General.strProtectConfiguration_Password = reader.ReadText();
    o.General.ProcessPriority = reader.ReadInt32();
    o.General.PathForTempFiles = reader.ReadText();
    o.Logging.MaxNumberOfLogsForEachJob = reader.ReadInt32();
    o.Logging.MaxNumberOfLinesInHistory = reader.ReadInt32();
    o.Logging.MaxNumberOfLinesInEventsLog = reader.ReadInt32();
    o.Logging.DontLogCopyingInternalFiles = reader.ReadBoolean();
    o.Logging.PathForLogFiles = reader.ReadText();
    o.Processing.RunOnlyOneJobAtATime = reader.ReadBoolean();
    o.Processing.IfDestinationNotAvailable_Retry_Times = reader.ReadInt32();
    o.Processing.IfDestinationNotAvailable_Wait_Sec = reader.ReadInt32();
    o.Processing.IfDestinationNotAvailable_Then = version >= 6 ? reader.ReadInt32() : 0;
    o.Processing.RemovePreviousBackupIfCancelled = version >= 7 ? reader.ReadBoolean() : true;
    o.Processing.PreventOtherAppsFromWritingDuringZipping = reader.ReadBoolean();
    o.Processing.DontUseBufferingForCopyOperations = reader.ReadBoolean();
    o.Processing.SkipHiddenSystemFiles = reader.ReadBoolean();
    o.Processing.SkipLockedFiles = version >= 3 ? reader.ReadBoolean() : false;
    o.ExcludedDirs = version >= 5 ? reader.ReadStringList() : QStringList();
    o.Email.SendEmailNotificationWhenFinishedBackup = reader.ReadBoolean();
    o.Email.SendOnlyIfJobIscancelledDueToErrors = reader.ReadBoolean();
    o.Email.RecipientEmail = reader.ReadText();
    o.Email.SMTPHost = reader.ReadText();
    o.Email.SMTPPort = reader.ReadText();
    o.Email.Username = reader.ReadText();
    o.Email.Password = reader.ReadText();
    o.Email.Security = reader.ReadInt32();
    if (version >= 4) {
        o.Proxy.PrType = reader.ReadInt32();
        o.Proxy.Enabled = reader.ReadBoolean();
    } else {
        // Before version 4 one number held both: 0 no proxy, otherwise the type + 1.
        const int32_t stored = reader.ReadInt32();
        o.Proxy.Enabled = stored > 0;
        if (stored > 0)
            o.Proxy.PrType = stored - 1;
    }
    o.Proxy.Host = reader.ReadText();
    o.Proxy.Port = reader.ReadText();
    o.Proxy.Username = reader.ReadText();
    o.Proxy.Password = reader.ReadText();
    o.LastFTPAccountID = reader.ReadInt32();
    const int32_t count = reader.ReadInt32();
    if (count < 0 || qsizetype(count) * MinimumAccountBytes > reader.Remaining())
        throw TDecodeError("FTP account count runs past the end of data");
    o.FTPAccounts.clear();
    for (int32_t i = 0; i < count; ++i) {
        TFTPAccount account;
        account.AccName = reader.ReadText();
        account.ID = reader.ReadInt32();
        account.Host = reader.ReadText();
        account.Username = reader.ReadText();
        account.Password = reader.ReadText();
        account.Port = reader.ReadInt32();
        account.PassiveMode = reader.ReadBoolean();
        account.FTPS = reader.ReadBoolean();
        o.FTPAccounts.append(account);
    }
}

QByteArray WriteOptions(const TOptions& o) {
    TPrimitiveWriter writer;
    writer.WriteInt32(OptionsFormatVersion);
    writer.WriteText(o.Language.LanguageOfInterface);
    writer.WriteBoolean(o.General.RunProgramAtLogon);
    writer.WriteBoolean(o.General.ProtectConfigurationbyPassword);
    writer.WriteBoolean(o.General.BlockSleepModeifJobIsScheduled);
    writer.WriteText(o.General.strProtectConfiguration_Password);
    writer.WriteInt32(o.General.ProcessPriority);
    writer.WriteText(o.General.PathForTempFiles);
    writer.WriteInt32(o.Logging.MaxNumberOfLogsForEachJob);
    writer.WriteInt32(o.Logging.MaxNumberOfLinesInHistory);
    writer.WriteInt32(o.Logging.MaxNumberOfLinesInEventsLog);
    writer.WriteBoolean(o.Logging.DontLogCopyingInternalFiles);
    writer.WriteText(o.Logging.PathForLogFiles);
    writer.WriteBoolean(o.Processing.RunOnlyOneJobAtATime);
    writer.WriteInt32(o.Processing.IfDestinationNotAvailable_Retry_Times);
    writer.WriteInt32(o.Processing.IfDestinationNotAvailable_Wait_Sec);
    writer.WriteInt32(o.Processing.IfDestinationNotAvailable_Then);
    writer.WriteBoolean(o.Processing.RemovePreviousBackupIfCancelled);
    writer.WriteBoolean(o.Processing.PreventOtherAppsFromWritingDuringZipping);
    writer.WriteBoolean(o.Processing.DontUseBufferingForCopyOperations);
    writer.WriteBoolean(o.Processing.SkipHiddenSystemFiles);
    writer.WriteBoolean(o.Processing.SkipLockedFiles);
    writer.WriteStringList(o.ExcludedDirs);
    writer.WriteBoolean(o.Email.SendEmailNotificationWhenFinishedBackup);
    writer.WriteBoolean(o.Email.SendOnlyIfJobIscancelledDueToErrors);
    writer.WriteText(o.Email.RecipientEmail);
    writer.WriteText(o.Email.SMTPHost);
    writer.WriteText(o.Email.SMTPPort);
    writer.WriteText(o.Email.Username);
    writer.WriteText(o.Email.Password);
    writer.WriteInt32(o.Email.Security);
    writer.WriteInt32(o.Proxy.PrType);
    writer.WriteBoolean(o.Proxy.Enabled);
    writer.WriteText(o.Proxy.Host);
    writer.WriteText(o.Proxy.Port);
    writer.WriteText(o.Proxy.Username);
    writer.WriteText(o.Proxy.Password);
    writer.WriteInt32(o.LastFTPAccountID);
    writer.WriteInt32(int32_t(o.FTPAccounts.size()));
    for (const TFTPAccount& account : o.FTPAccounts) {
        writer.WriteText(account.AccName);
        writer.WriteInt32(account.ID);
        writer.WriteText(account.Host);
        writer.WriteText(account.Username);
        writer.WriteText(account.Password);
        writer.WriteInt32(account.Port);
        writer.WriteBoolean(account.PassiveMode);
        writer.WriteBoolean(account.FTPS);
    }
    return writer.Data();
}

} // namespace

QString OptionsFilePath() {
    return App().ApplicationDirectory + QStringLiteral("/options.vlo");
}

bool LoadOptions(const QString& path, TOptions& options) {
    QByteArray plain;
    switch (ReadEncipheredFile(path, plain)) {
    case TEncipheredReadResult::Missing:
        return false;
    case TEncipheredReadResult::OpenFailed:
        AddToEventsLog(QStringLiteral("Error loading options. Code: 2"));
        return false;
    case TEncipheredReadResult::Ok:
        break;
    }
    try {
        TPrimitiveReader reader(plain);
        ReadOptions(reader, options);
        return true;
    } catch (const TDecodeError&) {
        AddToEventsLog(QStringLiteral("Error loading options. Code: 1"));
        return false;
    }
}

bool SaveOptions(const QString& path, const TOptions& options) {
    return WriteEncipheredFile(path, WriteOptions(options));
}

bool LoadOptions() {
    return LoadOptions(OptionsFilePath(), App().Options);
}

bool SaveOptions() {
    return SaveOptions(OptionsFilePath(), App().Options);
}
