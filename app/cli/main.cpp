#include "app/cli/Commands.h"
#include "app/cli/TCliContext.h"
#include "core/base/AppFolders.h"

#include <QCoreApplication>

namespace {

struct TCommand {
    const char* Name;
    int (*Run)(TCliContext&);
    const char* Usage;
    const char* Summary = nullptr; // one sentence for "help COMMAND" and the manual page
};

const TCommand Commands[] = {
    {"list", &CommandList, "list", "Lists the jobs with their kind, destination and last result."},
    {"show", &CommandShow, "show NAME [--json]", "Shows one job's settings, as text or JSON."},
    {"rename", &CommandRename, "rename OLD NEW", "Renames a job and its folder at the destination."},
    {"options", &CommandOptions, "options [--json]", "Shows the program options, as text or JSON."},
    {"events", &CommandEvents, "events", "Shows the events log."},
    {"new", &CommandNew,
     "new NAME --source PATH [--source PATH]... --to FOLDER|SHARE|ftp://ACCOUNT/PATH|cloud:SERVICE/PATH\n"
     "      [--user USER [--share-password-file FILE]]\n"
     "      [--type incremental|differential|full|mirror]\n"
     "      [--full-every N | --full-over-percent P] [--keep N] [--prune-first] [--include EXTS | --exclude EXTS]\n"
     "      [--zip [--per-file] [--level fastest|normal|max|none] [--no-compress EXTS]\n"
     "             [--encrypt aes128|aes192|aes256|zipcrypto --password-file FILE]]\n"
     "      [--days-of-week mon,tue,... | --days-of-month 1,15,...] [--at HH:MM:SS]... [--catch-up]\n"
     "      [--shutdown-after] [--disable]",
     "Creates a files-and-folders backup job; with --apps \"A,B,...\" (and --to, the share and schedule flags)\n"
     "an application data job of the applications that \"apps\" lists; with --image VOLUME (repeatable: a mount\n"
     "point, a block device or an image file), --to FOLDER, [--keep-versions N] and the schedule flags a drive\n"
     "image job."},
    {"backup", &CommandBackup, "backup NAME", "Runs a job now and waits for it to end."},
    {"points", &CommandPoints, "points NAME",
     "Lists the restore points of a job; of a drive image job its versions and the volumes each holds."},
    {"restore", &CommandRestore, "restore NAME --to FOLDER [--point N | --latest] [--password-file FILE]",
     "Restores a restore point (the latest by default) into a folder. An application data job takes\n"
     "[--apps \"A,B,...\"] instead: the applications' data goes back to its places (all by default). A drive\n"
     "image job takes [--version ID] [--volume VOLUME] --to DEVICE_OR_FILE: the volume (the job's only one by\n"
     "default) of the version (the latest by default) is written to a block device that is not mounted, or to\n"
     "an image file."},
    {"apps", &CommandApps, "apps",
     "Lists the known applications: category, name and whether their data is present here."},
    {"log", &CommandLog, "log NAME [--history]", "Shows the log of a job's last run, or its run history."},
    {"remove", &CommandRemove, "remove NAME [--with-backup]", "Removes a job, and with --with-backup its backup too."},
    {"schedule", &CommandSchedule,
     "schedule NAME [--days-of-week mon,tue,... | --days-of-month 1,15,...] [--at HH:MM:SS]... [--catch-up]\n"
     "      [--shutdown-after] [--disable]",
     "Changes when a job runs."},
    {"run-scheduler", &CommandRunScheduler, "run-scheduler", "Runs scheduled jobs without a window until stopped."},
    {"ftp-account", &CommandFtpAccount,
     "ftp-account add NAME --host HOST [--port N] --user USER --password-file FILE [--active] [--ftps]\n"
     "  ftp-account edit NAME [--name NEW] [--host HOST] [--port N] [--user USER] [--password-file FILE]\n"
     "      [--active | --passive] [--ftps | --no-ftps]\n"
     "  ftp-account remove NAME\n"
     "  ftp-account list",
     "Adds, changes, removes or lists the FTP accounts that FTP destinations (ftp://NAME/...) use."},
    {"cloud-auth", &CommandCloudAuth, "cloud-auth SERVICE [--code CODE] [--port N]",
     "Signs in to a cloud drive (dropbox, googledrive or onedrive) in the browser, or with a pasted code, and keeps "
     "the sign-in for jobs."},
    {"cloud-reset", &CommandCloudReset, "cloud-reset SERVICE", "Forgets the sign-in to a cloud drive."},
    {"open", &CommandOpen,
     "open FILE|SHARE/FILE|ftp://ACCOUNT/PATH|cloud:SERVICE/PATH [--user USER [--share-password-file FILE]]",
     "Adds a job again from the stored job file (.vlj) its backups keep at the destination."},
};

#ifndef VAULTORA_VERSION
#define VAULTORA_VERSION "0.0.0"
#endif

void WriteUsage(QTextStream& out) {
    out << "usage: vaultora-cli [--data-dir DIR] COMMAND [ARGS]\n"
           "       vaultora-cli --help | --version | help COMMAND\ncommands:\n";
    for (const TCommand& command : Commands)
        out << "  " << command.Usage << '\n';
    out.flush();
}

int PrintUsage(TCliContext& context) {
    WriteUsage(context.Err);
    return ceUsage;
}

const TCommand* FindCommand(const QString& name) {
    for (const TCommand& command : Commands) {
        if (name == QLatin1String(command.Name))
            return &command;
    }
    return nullptr;
}

// "help" alone is the usage on standard output; "help COMMAND" that command's form and summary.
int PrintHelp(TCliContext& context) {
    if (context.Args.isEmpty()) {
        WriteUsage(context.Out);
        return ceOk;
    }
    const TCommand* command = FindCommand(context.Args.first());
    if (!command) {
        context.Err << "vaultora-cli: unknown command \"" << context.Args.first() << "\"\n";
        return PrintUsage(context);
    }
    context.Out << "usage: vaultora-cli [--data-dir DIR] " << command->Usage << '\n';
    if (command->Summary)
        context.Out << '\n' << command->Summary << '\n';
    context.Out.flush();
    return ceOk;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vaultora"));
    TCliContext context;
    context.Args = QCoreApplication::arguments().mid(1);
    if (!context.TakeOption(QStringLiteral("--data-dir"), &context.DataDirectory))
        context.DataDirectory = DefaultApplicationDirectory();
    if (context.Args.isEmpty())
        return PrintUsage(context);
    const QString name = context.Args.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help"))
        return PrintHelp(context);
    if (name == QLatin1String("--version")) {
        // The folder of the shipped files too: where an installed or moved program looks for them.
        context.Out << "vaultora-cli " << VAULTORA_VERSION << "\nprogram files: " << DefaultProgramDataDirectory()
                    << '\n';
        context.Out.flush();
        return ceOk;
    }
    if (const TCommand* command = FindCommand(name)) {
        if (!context.UseDataDirectory())
            return ceErrors;
        return command->Run(context);
    }
    context.Err << "vaultora-cli: unknown command \"" << name << "\"\n";
    return PrintUsage(context);
}
