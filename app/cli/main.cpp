#include "app/cli/Commands.h"
#include "app/cli/TCliContext.h"

#include <QCoreApplication>

namespace {

struct TCommand {
    const char* Name;
    int (*Run)(TCliContext&);
    const char* Usage;
};

const TCommand Commands[] = {
    {"list", &CommandList, "list"},
    {"show", &CommandShow, "show NAME [--json]"},
    {"rename", &CommandRename, "rename OLD NEW"},
    {"options", &CommandOptions, "options [--json]"},
    {"events", &CommandEvents, "events"},
    {"new", &CommandNew,
     "new NAME --source PATH [--source PATH]... --to FOLDER|SHARE|cloud:DropBox/PATH [--user USER "
     "[--share-password-file FILE]]\n"
     "      [--type incremental|differential|full|mirror]\n"
     "      [--full-every N | --full-over-percent P] [--keep N] [--prune-first] [--include EXTS | --exclude EXTS]\n"
     "      [--zip [--per-file] [--level fastest|normal|max|none] [--no-compress EXTS]\n"
     "             [--encrypt aes128|aes192|aes256|zipcrypto --password-file FILE]]\n"
     "      [--days-of-week mon,tue,... | --days-of-month 1,15,...] [--at HH:MM:SS]... [--catch-up]\n"
     "      [--shutdown-after] [--disable]"},
    {"backup", &CommandBackup, "backup NAME"},
    {"points", &CommandPoints, "points NAME"},
    {"restore", &CommandRestore, "restore NAME --to FOLDER [--point N | --latest] [--password-file FILE]"},
    {"log", &CommandLog, "log NAME [--history]"},
    {"remove", &CommandRemove, "remove NAME [--with-backup]"},
    {"schedule", &CommandSchedule,
     "schedule NAME [--days-of-week mon,tue,... | --days-of-month 1,15,...] [--at HH:MM:SS]... [--catch-up]\n"
     "      [--shutdown-after] [--disable]"},
    {"run-scheduler", &CommandRunScheduler, "run-scheduler"},
    {"cloud-auth", &CommandCloudAuth, "cloud-auth dropbox [--code CODE] [--port N]"},
    {"cloud-reset", &CommandCloudReset, "cloud-reset dropbox"},
};

int PrintUsage(TCliContext& context) {
    context.Err << "usage: vaultora-cli [--data-dir DIR] COMMAND [ARGS]\ncommands:\n";
    for (const TCommand& command : Commands)
        context.Err << "  " << command.Usage << '\n';
    context.Err.flush();
    return ceUsage;
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
    for (const TCommand& command : Commands) {
        if (name == QLatin1String(command.Name)) {
            if (!context.UseDataDirectory())
                return ceErrors;
            return command.Run(context);
        }
    }
    context.Err << "vaultora-cli: unknown command \"" << name << "\"\n";
    return PrintUsage(context);
}
