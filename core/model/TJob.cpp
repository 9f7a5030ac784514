#include "core/model/TJob.h"

#include "core/base/DirectoryTree.h"
#include "core/base/OleDate.h"
#include "core/base/TextFile.h"
#include "core/base/TextFormat.h"
#include "core/format/FileCipher.h"
#include "core/format/TPrimitiveReader.h"
#include "core/format/TPrimitiveWriter.h"
#include "core/settings/TAppGlobals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

TJob::TJob(const QString& JobName)
    : stJobName(JobName) {}

void TJob::CopySettingsFrom(const TJob& other) {
    SchedulingSettings = other.SchedulingSettings;
    DestinationSettings = other.DestinationSettings;
}

TJob::~TJob() = default;

bool TJob::IsActive() const {
    const TJobStatus status = JobStatus;
    return status == jsRunning || status == jsCancelling || status == jsPaused;
}

void TJob::StartOperation(TJobOperation operation) {
    JobStatus = jsRunning;
    JobOperation = operation;
    LastJobResult.StartTime = OleDate::Now();
    LastJobResult.EndTime = 0;
    LastJobResult.Cancelled = false;
    LastJobResult.ErrorsCount = 0;
    LastJobResult.WarningsCount = 0;
    LastJobResult.Log.clear();
    OptionsToJobOptions();
}

void TJob::Backup() {
    StartOperation(joBackup);
    AddErrorLine(Tr(QStringLiteral("This kind of backup is not available in this build.")));
    LastJobResult.Cancelled = true;
    LastJobResult.EndTime = OleDate::Now();
    JobStatus = jsNone;
    RequestRepaint();
}

void TJob::Cancel() {
    switch (JobStatus.Load()) {
    case jsWaiting: {
        JobStatus = jsNone;
        const double now = OleDate::Now();
        LastJobResult.StartTime = now;
        LastJobResult.EndTime = now;
        LastJobResult.Log.clear();
        break;
    }
    case jsRunning:
    case jsPaused:
        JobStatus = jsCancelling;
        CancelCurrentFileOperation = 1;
        App().EventsLog.AddToEventsLog(TranslateText(QStringLiteral("Cancelling")) + QStringLiteral(" (") + stJobName +
                                       QStringLiteral(")"));
        break;
    default:
        break;
    }
    RequestRepaint();
}

void TJob::Pause() {
    if (CanPause && JobStatus == jsRunning)
        JobStatus = jsPaused;
    RequestRepaint();
}

void TJob::Resume() {
    if (JobStatus == jsPaused)
        JobStatus = jsRunning;
    RequestRepaint();
}

void TJob::OptionsToJobOptions() {
    // QString and the lists are implicitly shared with atomic reference counts: the copy is
    // independent of later edits of the program options.
    JobOptions = App().Options;
}

void TJob::DeleteTempFiles() {
    const QString temp = JobOptions.General.PathForTempFiles;
    if (temp.isEmpty() || stJobName.isEmpty())
        return;
    const QString folder = temp + u'/' + stJobName;
    if (QFileInfo(folder).isDir())
        DeleteDirectoryTree(folder);
    const QString stored = temp + u'/' + stJobName + App().RemoteJobFileExtension;
    if (QFileInfo::exists(stored))
        QFile::remove(stored);
}

bool TJob::ChangeNameLocally(const QString& newname) {
    const QString folder = App().ApplicationDirectory;
    const QString oldFile = stJobName + QStringLiteral(".vld");
    const QString newFile = newname + QStringLiteral(".vld");
    QDir dir(folder);
    if (oldFile != newFile && dir.exists(newFile))
        dir.remove(newFile);
    if (dir.exists(oldFile) && oldFile != newFile && !dir.rename(oldFile, newFile)) {
        AddToEventsLog(QStringLiteral("Unable to rename the file \"%s\" to \"%s\" in directory: %s"),
                       {oldFile, newFile, folder});
        return false;
    }
    stJobName = newname;
    return true;
}

QString TJob::Tr(const QString& text) const {
    return TranslateWith(JobOptions.Language.Translations, JobOptions.Language.iLanguage, text);
}

QString TJob::TrFormat(const QString& format, std::initializer_list<QString> values) const {
    return FormatText(Tr(format), values);
}

void TJob::AddPlainLine(const QString& text) {
    LastJobResult.Log.append(text);
    if (OnLogLine)
        OnLogLine(text);
}

void TJob::AddLogLine(const QString& text) {
    // The local time's text is made once a second: making it consults the time-zone rules (and
    // stats /etc/localtime), and a run writes a line per file.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qint64 second = now.toSecsSinceEpoch();
    if (second != m_logLineSecond || m_logLineTime.isEmpty()) {
        m_logLineSecond = second;
        m_logLineTime = LongTimeText(now.toLocalTime());
    }
    AddPlainLine(m_logLineTime + QStringLiteral(": ") + text);
}

void TJob::AddErrorLine(const QString& text) {
    AddLogLine(Tr(QStringLiteral("ERROR:")) + u' ' + text);
    ++LastJobResult.ErrorsCount;
}

void TJob::AddWarningLine(const QString& text) {
    AddLogLine(Tr(QStringLiteral("WARNING:")) + u' ' + text);
    ++LastJobResult.WarningsCount;
}

void TJob::AddSeparatorLine() {
    AddPlainLine(QStringLiteral("-----------------------------"));
}

void TJob::RequestRepaint() {
    App().RepaintRequested.store(true, std::memory_order_relaxed);
}

// ---- Stored logs and history ----

QString TJob::LogFolderIn(const QString& pathForLogFiles) const {
    return pathForLogFiles + u'/' + stJobName;
}

QString TJob::LogFolderPath() const {
    return LogFolderIn(JobOptions.Logging.PathForLogFiles);
}

void TJob::BeginRunLog(const QDateTime& moment) {
    m_runLogMoment = moment;
    const QString folder = LogFolderPath();
    if (QFileInfo(folder).isDir())
        return;
    if (!QDir().mkpath(folder))
        App().EventsLog.AddToEventsLog(Tr(QStringLiteral("Unable to create a folder for the log files:")) + u' ' +
                                       folder);
}

void TJob::SaveRunLog() {
    const QString folder = LogFolderPath();
    if (!QFileInfo(folder).isDir())
        return;
    const QDateTime moment = m_runLogMoment.isValid() ? m_runLogMoment : OleDate::ToDateTime(LastJobResult.StartTime);
    // The moment names this run's file only; a later run that does not begin its log anew must
    // not overwrite it.
    m_runLogMoment = QDateTime();
    const QString stamp = LogFileStamp(moment);
    const QString path = folder + u'/' + stamp + QStringLiteral(".txt");
    QString error;
    if (!WriteTextFileLines(path, LastJobResult.Log, 0600, &error)) {
        const QString text =
            Tr(QStringLiteral("Unable to write the file:")) + u' ' + path + QStringLiteral(" (") + error + u')';
        App().EventsLog.AddToEventsLog(text);
        // The run's stored log is lost: the run must not end as a success.
        AddErrorLine(text);
        return;
    }
    // Two runs begun within the same second share a file name: the file was replaced, and a
    // second entry would let RemoveOldLogs delete the file the newer entry still names.
    if (!LogList.contains(stamp))
        LogList.append(stamp);
    RemoveOldLogs();
}

void TJob::RemoveOldLogs() {
    const QString folder = LogFolderPath();
    for (qsizetype i = LogList.size() - 1; i >= 0; --i)
        if (!QFileInfo::exists(folder + u'/' + LogList.at(i) + QStringLiteral(".txt")))
            LogList.removeAt(i);
    const int limit = JobOptions.Logging.MaxNumberOfLogsForEachJob;
    while (!LogList.isEmpty() && LogList.size() > limit) {
        QFile file(folder + u'/' + LogList.first() + QStringLiteral(".txt"));
        if (!file.remove() && file.exists()) {
            // The entry stays, so the next run tries again.
            AddErrorLine(Tr(QStringLiteral("Unable to remove the old log files.")) + u' ' + file.errorString());
            return;
        }
        LogList.removeFirst();
    }
}

void TJob::AddEventtoBackupHistory(const QString& strEvent, bool AppendToLastString) {
    if (AppendToLastString && !BackupHistory.isEmpty())
        BackupHistory.last() += u' ' + strEvent;
    else
        BackupHistory.append(DateTimeText(QDateTime::currentDateTime()) + QStringLiteral(": ") + strEvent);
    const int limit = JobOptions.Logging.MaxNumberOfLinesInHistory;
    while (!BackupHistory.isEmpty() && BackupHistory.size() > limit)
        BackupHistory.removeFirst();
}

QString TJob::ExportHistory(const QString& pathForLogFiles, QString* errorText) const {
    const QString path = pathForLogFiles + QStringLiteral("/history - ") + stJobName + QStringLiteral(".txt");
    if (!WriteTextFileLines(path, BackupHistory, 0600, errorText))
        return {};
    return path;
}

QString TJob::LocalJobFilePath() const {
    return App().ApplicationDirectory + u'/' + stJobName + QStringLiteral(".vld");
}

// ---- Job files ----

void TJob::WriteHeader(TPrimitiveWriter& writer, int32_t version, TJobKind kind) {
    writer.WriteInt32(version);
    if (version >= 4)
        writer.WriteInt32(int32_t(kind));
}

int32_t TJob::ReadHeader(TPrimitiveReader& reader) {
    const int32_t version = reader.ReadInt32();
    if (version >= 4)
        reader.ReadInt32();
    return version;
}

void TJob::ReadResultBlock(TPrimitiveReader& reader, int32_t version) {
    LastJobResult.StartTime = reader.ReadDouble();
    LastJobResult.EndTime = reader.ReadDouble();
    LastJobResult.Cancelled = reader.ReadBoolean();
    if (version >= 3) {
        LastJobResult.ErrorsCount = reader.ReadInt32();
        LastJobResult.WarningsCount = reader.ReadInt32();
    } else {
        LastJobResult.ErrorsCount = reader.ReadByte();
        LastJobResult.WarningsCount = reader.ReadByte();
    }
    LogList = reader.ReadStringList();
    BackupHistory = reader.ReadStringList();
}

void TJob::WriteResultBlock(TPrimitiveWriter& writer) const {
    writer.WriteDouble(LastJobResult.StartTime);
    writer.WriteDouble(LastJobResult.EndTime);
    writer.WriteBoolean(LastJobResult.Cancelled);
    writer.WriteInt32(LastJobResult.ErrorsCount);
    writer.WriteInt32(LastJobResult.WarningsCount);
    writer.WriteStringList(LogList);
    writer.WriteStringList(BackupHistory);
}

void TJob::ReadDestinationBlock(TPrimitiveReader& reader) {
    TDestinationSettings& d = DestinationSettings;
    d.DestinationType = TDestinationType(reader.ReadInt32() & 0xFF);
    d.LocalOrExternalDrive.Disk = reader.ReadText();
    d.LocalOrExternalDrive.Subfolder = reader.ReadText();
    d.Network.Username = reader.ReadText();
    d.Network.Password = reader.ReadText();
    d.Network.UNCPath = reader.ReadText();
    d.FTP.AccountID = reader.ReadInt32();
    d.FTP.Subfolder = reader.ReadText();
    d.Cloud.ServiceName = reader.ReadText();
    d.Cloud.Subfolder = reader.ReadText();
}

void TJob::WriteDestinationBlock(TPrimitiveWriter& writer, bool withSecrets) const {
    const TDestinationSettings& d = DestinationSettings;
    writer.WriteInt32(d.DestinationType);
    writer.WriteText(d.LocalOrExternalDrive.Disk);
    writer.WriteText(d.LocalOrExternalDrive.Subfolder);
    writer.WriteText(d.Network.Username);
    writer.WriteText(withSecrets ? d.Network.Password : QString());
    writer.WriteText(d.Network.UNCPath);
    writer.WriteInt32(d.FTP.AccountID);
    writer.WriteText(d.FTP.Subfolder);
    writer.WriteText(d.Cloud.ServiceName);
    writer.WriteText(d.Cloud.Subfolder);
}

bool TJob::ReadRemoteDestinationBlock(TPrimitiveReader& reader) {
    TDestinationSettings& d = DestinationSettings;
    const TDestinationType current = d.DestinationType;
    bool differs = TDestinationType(reader.ReadInt32() & 0xFF) != current;
    // For the type the job uses now, the stored value is only compared; other types are taken.
    auto field = [&](QString& target, TDestinationType owner) {
        const QString stored = reader.ReadText();
        if (owner == current)
            differs = differs || stored != target;
        else
            target = stored;
    };
    field(d.LocalOrExternalDrive.Disk, dtLocalOrExternalDrive);
    field(d.LocalOrExternalDrive.Subfolder, dtLocalOrExternalDrive);
    field(d.Network.Username, dtNetwork);
    reader.ReadText(); // the network password is never stored there (nor taken from older files)
    field(d.Network.UNCPath, dtNetwork);
    reader.ReadInt32(); // the FTP account is the one the file was found with
    field(d.FTP.Subfolder, dtFTP);
    field(d.Cloud.ServiceName, dtCloud);
    field(d.Cloud.Subfolder, dtCloud);
    return differs;
}

void TJob::ReadSchedulingBlock(TPrimitiveReader& reader) {
    TSchedulingSettings& s = SchedulingSettings;
    s.SchedulingType = TSchedulingType(reader.ReadInt32());
    for (int day = 1; day <= 7; ++day)
        s.DaysOfWeek[day] = reader.ReadBoolean();
    for (int day = 1; day <= 31; ++day)
        s.DaysOfMonth[day] = reader.ReadBoolean();
    s.TimeTable = reader.ReadStringList();
    s.LastModificationDateTime = reader.ReadDouble();
    s.RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed = reader.ReadBoolean();
    s.ShutdownPCInTheEnd = reader.ReadBoolean();
}

void TJob::ReadRemoteSchedulingBlock(TPrimitiveReader& reader) {
    ReadSchedulingBlock(reader);
    SchedulingSettings.SchedulingType = stDisabled;
}

void TJob::WriteSchedulingBlock(TPrimitiveWriter& writer) const {
    const TSchedulingSettings& s = SchedulingSettings;
    writer.WriteInt32(s.SchedulingType);
    for (int day = 1; day <= 7; ++day)
        writer.WriteBoolean(s.DaysOfWeek[day]);
    for (int day = 1; day <= 31; ++day)
        writer.WriteBoolean(s.DaysOfMonth[day]);
    writer.WriteStringList(s.TimeTable);
    writer.WriteDouble(s.LastModificationDateTime);
    writer.WriteBoolean(s.RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed);
    writer.WriteBoolean(s.ShutdownPCInTheEnd);
}

bool TJob::LoadLocalJobFile(const QString& path) {
    QByteArray plain;
    switch (ReadEncipheredFile(path, plain)) {
    case TEncipheredReadResult::Ok:
        break;
    case TEncipheredReadResult::Missing:
    case TEncipheredReadResult::OpenFailed:
        AddToEventsLog(QStringLiteral("Error loading job \"%s\". Code: 2"), stJobName);
        return false;
    }
    try {
        TPrimitiveReader reader(plain);
        const int32_t version = ReadHeader(reader); // the caller chose the class from the kind
        ReadLocalBody(reader, version);
        return true;
    } catch (const TDecodeError&) {
        AddToEventsLog(QStringLiteral("Error loading job \"%s\". Code: 1"), stJobName);
        return false;
    }
}

bool TJob::SaveLocalJobFile(const QString& path) const {
    TPrimitiveWriter writer;
    WriteHeader(writer, LocalFormatVersion(), Kind());
    WriteLocalBody(writer);
    if (!WriteEncipheredFile(path, writer.Data())) {
        App().EventsLog.AddToEventsLog(
            Tr(QStringLiteral("Unable to save the settings. Please check the possibility to write to the file:")) +
            u' ' + path);
        return false;
    }
    return true;
}

bool TJob::SaveLocalJobFileAtEndOfRun() {
    const QString path = LocalJobFilePath();
    if (SaveLocalJobFile(path))
        return true;
    // The run's result, history and log list are not kept: the run ends with an error.
    AddErrorLine(Tr(QStringLiteral("Unable to save the settings. Please check the possibility to write to the file:")) +
                 u' ' + path);
    return false;
}

int GetJobFileKind(const QString& path) {
    QByteArray plain;
    switch (ReadEncipheredFile(path, plain)) {
    case TEncipheredReadResult::Missing:
        return 0;
    case TEncipheredReadResult::OpenFailed:
        AddToEventsLog(QStringLiteral("Error loading job \"%s\". Code: 2"), path);
        return 0;
    case TEncipheredReadResult::Ok:
        break;
    }
    try {
        TPrimitiveReader reader(plain);
        const int32_t version = reader.ReadInt32();
        if (version < 4)
            return 1;
        return reader.ReadInt32();
    } catch (const TDecodeError&) {
        AddToEventsLog(QStringLiteral("Error loading job \"%s\". Code: 1"), path);
        return 0;
    }
}

QString DestinationChangedWarningText() {
    return TranslateText(QStringLiteral("Destination settings of backup has been changed to actual location."));
}

// ---- JSON ----

namespace {

QJsonArray ToJsonArray(const QStringList& list) {
    return QJsonArray::fromStringList(list);
}

template <size_t N>
QJsonArray DaysToJson(const std::array<bool, N>& days) {
    QJsonArray array;
    for (size_t i = 1; i < N; ++i)
        array.append(days[i]);
    return array;
}

} // namespace

QJsonObject TJob::ToJson() const {
    QJsonObject result{
        {QStringLiteral("StartTime"), LastJobResult.StartTime.Load()},
        {QStringLiteral("EndTime"), LastJobResult.EndTime.Load()},
        {QStringLiteral("Log"), ToJsonArray(LastJobResult.Log)},
        {QStringLiteral("Cancelled"), LastJobResult.Cancelled.Load()},
        {QStringLiteral("ErrorsCount"), LastJobResult.ErrorsCount.Load()},
        {QStringLiteral("WarningsCount"), LastJobResult.WarningsCount.Load()},
    };
    const TSchedulingSettings& s = SchedulingSettings;
    QJsonObject scheduling{
        {QStringLiteral("SchedulingType"), int(s.SchedulingType)},
        {QStringLiteral("DaysOfWeek"), DaysToJson(s.DaysOfWeek)},
        {QStringLiteral("DaysOfMonth"), DaysToJson(s.DaysOfMonth)},
        {QStringLiteral("TimeTable"), ToJsonArray(s.TimeTable)},
        {QStringLiteral("LastModificationDateTime"), s.LastModificationDateTime},
        {QStringLiteral("RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed"),
         s.RunJobAsSoonAsPossibleAfterAScheduledStartIsMissed},
        {QStringLiteral("ShutdownPCInTheEnd"), s.ShutdownPCInTheEnd},
    };
    const TDestinationSettings& d = DestinationSettings;
    QJsonObject destination{
        {QStringLiteral("DestinationType"), int(d.DestinationType)},
        {QStringLiteral("LocalOrExternalDrive"),
         QJsonObject{{QStringLiteral("Disk"), d.LocalOrExternalDrive.Disk},
                     {QStringLiteral("Subfolder"), d.LocalOrExternalDrive.Subfolder}}},
        {QStringLiteral("Network"), QJsonObject{{QStringLiteral("Username"), d.Network.Username},
                                                {QStringLiteral("PasswordIsSet"), !d.Network.Password.isEmpty()},
                                                {QStringLiteral("UNCPath"), d.Network.UNCPath}}},
        {QStringLiteral("FTP"),
         QJsonObject{{QStringLiteral("AccountID"), d.FTP.AccountID}, {QStringLiteral("Subfolder"), d.FTP.Subfolder}}},
        {QStringLiteral("Cloud"), QJsonObject{{QStringLiteral("ServiceName"), d.Cloud.ServiceName},
                                              {QStringLiteral("Subfolder"), d.Cloud.Subfolder}}},
    };
    return QJsonObject{
        {QStringLiteral("Kind"), int(Kind())},
        {QStringLiteral("stJobName"), stJobName},
        {QStringLiteral("JobOperation"), int(JobOperation.Load())},
        {QStringLiteral("JobStatus"), int(JobStatus.Load())},
        {QStringLiteral("NewSubfolderIsCreatedForEachBackup"), NewSubfolderIsCreatedForEachBackup},
        {QStringLiteral("CanPause"), CanPause},
        {QStringLiteral("LastJobResult"), result},
        {QStringLiteral("BackupHistory"), ToJsonArray(BackupHistory)},
        {QStringLiteral("LogList"), ToJsonArray(LogList)},
        {QStringLiteral("SchedulingSettings"), scheduling},
        {QStringLiteral("DestinationSettings"), destination},
        {QStringLiteral("Settings"), SettingsToJson()},
    };
}
