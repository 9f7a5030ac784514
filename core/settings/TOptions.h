#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

// The translation table: Rows[r][c], column 0 the source language (English). Row 0 holds the
// languages' display names, row 1 their two-letter codes, rows 2 and on the texts.
struct TTranslationTable {
    QList<QStringList> Rows;

    int LanguageCount() const { return Rows.isEmpty() ? 0 : int(Rows.first().size()); }
    bool operator==(const TTranslationTable&) const = default;
};

struct TLanguageOptions {
    QString LanguageOfInterface = QStringLiteral("en");
    int32_t iLanguage = 0;
    TTranslationTable Translations;
    bool operator==(const TLanguageOptions&) const = default;
};

struct TGeneralOptions {
    bool RunProgramAtLogon = true;
    bool BlockSleepModeifJobIsScheduled = true;
    bool ProtectConfigurationbyPassword = false;
    QString strProtectConfiguration_Password;
    int32_t ProcessPriority = 1; // 0 idle, 1 normal, 2 high, 3 real-time
    QString PathForTempFiles;
    bool operator==(const TGeneralOptions&) const = default;
};

struct TLoggingOptions {
    int32_t MaxNumberOfLogsForEachJob = 20;
    int32_t MaxNumberOfLinesInHistory = 500;
    int32_t MaxNumberOfLinesInEventsLog = 50;
    bool DontLogCopyingInternalFiles = false;
    QString PathForLogFiles;
    bool operator==(const TLoggingOptions&) const = default;
};

struct TProcessingOptions {
    bool RunOnlyOneJobAtATime = false;
    int32_t IfDestinationNotAvailable_Retry_Times = 5;
    int32_t IfDestinationNotAvailable_Wait_Sec = 60;
    int32_t IfDestinationNotAvailable_Then = 0; // 0 cancel the job, 1 pause and wait
    bool PreventOtherAppsFromWritingDuringZipping = false;
    bool RemovePreviousBackupIfCancelled = true;
    bool DontUseBufferingForCopyOperations = false;
    bool SkipHiddenSystemFiles = false;
    bool SkipLockedFiles = false;
    bool operator==(const TProcessingOptions&) const = default;
};

struct TEmailOptions {
    bool SendEmailNotificationWhenFinishedBackup = false;
    bool SendOnlyIfJobIscancelledDueToErrors = false;
    QString RecipientEmail;
    QString SMTPHost;
    QString SMTPPort;
    QString Username;
    QString Password;
    int32_t Security = 0; // 0 none, 1 SSL, 2 TLS
    bool operator==(const TEmailOptions&) const = default;
};

struct TFTPAccount {
    int32_t ID = 0;
    QString AccName;
    QString Host;
    int32_t Port = 21;
    QString Username;
    QString Password;
    bool PassiveMode = true;
    bool FTPS = false;
    bool operator==(const TFTPAccount&) const = default;
};

struct TProxyOptions {
    bool Enabled = false;
    int32_t PrType = 0; // 0 HTTP, 1 SOCKS 4, 2 SOCKS 5
    QString Host;
    QString Port;
    QString Username;
    QString Password;
    bool operator==(const TProxyOptions&) const = default;
};

struct TOptions {
    TLanguageOptions Language;
    TGeneralOptions General;
    TLoggingOptions Logging;
    TProcessingOptions Processing;
    QStringList ExcludedDirs;
    TEmailOptions Email;
    QList<TFTPAccount> FTPAccounts;
    TProxyOptions Proxy;
    // Stored next to the record in the options file; new FTP accounts get LastFTPAccountID + 1.
    int32_t LastFTPAccountID = 0;

    bool operator==(const TOptions&) const = default;
};
