#pragma once

// Shared set-up of the window tests: every modal seam headless (boxes answer from a queue), the
// window settings in a temporary folder, and the program started on a temporary data folder.

#include "ui/TFileDialog.h"
#include "ui/TFontDialog.h"
#include "ui/TInputBox.h"
#include "ui/TMessageBox.h"
#include "ui/TProductSite.h"

#include "core/base/OleDate.h"
#include "core/base/TFakeClock.h"
#include "core/schedule/TScheduler.h"
#include "core/settings/TAppGlobals.h"
#include "core/startup/TApplicationContext.h"
#include "jobs/JobKinds.h"
#include "jobs/files/TJob_FilesAndFolders.h"
#include "platform/TFakeAutostart.h"
#include "platform/TFakeDesktopNotifier.h"
#include "platform/TFakePowerOff.h"
#include "platform/TFakeProcessPriority.h"
#include "platform/TFakeSleepInhibitor.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

namespace UiTest {

const QString ShippedData = QStringLiteral(VAULTORA_BINARY_DIR "/bin");
const QString Artifacts = QStringLiteral(VAULTORA_BINARY_DIR "/tests/artifacts");

inline void SetHeadless() {
    TMessageBox::SetHeadless(true);
    TFileDialog::SetHeadless(true);
    TInputBox::SetHeadless(true);
    TFontDialog::SetHeadless(true);
    TProductSite::SetOpener([](const QUrl&) {});
}

// The texts of the message boxes shown since the last call.
inline QStringList ShownTexts() {
    QStringList texts;
    for (const TMessageBox::TShown& shown : TMessageBox::TakeShown())
        texts.append(shown.Text);
    return texts;
}

inline void WriteFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(data);
}

inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A files-and-folders job that backs up the folder source into the folder destination.
inline std::unique_ptr<TJob_FilesAndFolders> FilesJob(const QString& name, const QString& source = QString(),
                                                      const QString& destination = QString()) {
    auto job = std::make_unique<TJob_FilesAndFolders>(name);
    if (!source.isEmpty())
        job->Settings.Sources.List = {source + QStringLiteral("/*")};
    job->DestinationSettings.DestinationType = dtLocalOrExternalDrive;
    job->DestinationSettings.LocalOrExternalDrive.Disk = QStringLiteral("/");
    job->DestinationSettings.LocalOrExternalDrive.Subfolder =
        destination.isEmpty() ? QStringLiteral("/nowhere") : destination;
    return job;
}

// A temporary home for one test: data folder, work folders, window settings.
class TFixture {
public:
    QTemporaryDir Root;
    TFakeAutostart Autostart;
    TFakeProcessPriority Priority;
    // Wednesday, 8 May 2024, 09:00, until a test moves it.
    TFakeClock Clock{QDateTime(QDate(2024, 5, 8), QTime(9, 0))};
    TFakeSleepInhibitor SleepInhibitor;
    TFakePowerOff PowerOff;
    TFakeDesktopNotifier Notifier;

    TFixture() {
        if (!Root.isValid())
            qFatal("no temporary folder");
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Path(QStringLiteral("config")));
        SetHeadless();
        App().IsQuitting = false;
        App().EventsLog.Clear();
        App().RepaintRequested = false;
    }
    ~TFixture() { App().IsQuitting = false; }
    TFixture(const TFixture&) = delete;
    TFixture& operator=(const TFixture&) = delete;

    QString Path(const QString& relative) const { return Root.filePath(relative); }
    QString DataFolder() const { return Path(QStringLiteral("data")); }

    TDefaultOptionsSources Sources() const {
        TDefaultOptionsSources sources;
        sources.LanguageCode = QStringLiteral("en");
        sources.PathForTempFiles = Path(QStringLiteral("cache/VaultoraTmp"));
        sources.PathForLogFiles = Path(QStringLiteral("Documents/Vaultora"));
        sources.ExcludedDirectoriesFile = ShippedData + QStringLiteral("/excluded-directories.txt");
        return sources;
    }

    TStartupSettings Settings(const QStringList& arguments = {}) const {
        TStartupSettings settings;
        settings.CommandLine.Parse(arguments);
        settings.ApplicationDirectory = DataFolder();
        settings.ProgramDataDirectory = ShippedData;
        settings.DefaultSources = Sources();
        return settings;
    }

    // The program context started on the data folder.
    std::unique_ptr<TApplicationContext> StartContext(const QStringList& arguments = {}) {
        auto context = std::make_unique<TApplicationContext>(&CreateJobOfKind, Autostart, Priority);
        const TStartupReport report = context->Start(Settings(arguments));
        if (report.Fatal)
            qFatal("the program did not start");
        return context;
    }

    // The scheduler of a started program, on the fixture's clock, sleep blocking and power-off.
    std::unique_ptr<TScheduler> Scheduler(TApplicationContext& context) {
        return std::make_unique<TScheduler>(context, Clock, SleepInhibitor, PowerOff);
    }
};

} // namespace UiTest
