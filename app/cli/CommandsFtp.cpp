// FTP accounts from the command line: ftp-account add, edit, remove, list; and the ftp:// form of
// "new --to".

#include "app/cli/Commands.h"
#include "app/cli/TCliContext.h"

#include "core/base/TextFormat.h"
#include "core/model/TJobTypes.h"
#include "core/settings/FTPAccounts.h"
#include "core/settings/TAppGlobals.h"

namespace {

bool Refuse(TCliContext& context, const QString& message) {
    context.Usage(message);
    return false;
}

bool HasControlCharacters(const QString& text) {
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return true;
    return false;
}

// The index of the account named exactly name, -1 when there is none.
int AccountIndex(const TOptions& options, const QString& name) {
    for (qsizetype i = 0; i < options.FTPAccounts.size(); ++i)
        if (options.FTPAccounts.at(i).AccName == name)
            return int(i);
    return -1;
}

// The account names are the handle of ftp://NAME/...: one that cannot be typed there, or that
// differs from another only in case, would make that form ambiguous.
bool CheckAccountName(TCliContext& context, const TOptions& options, const QString& name, int ownIndex) {
    if (name.trimmed().isEmpty())
        return Refuse(context, TranslateText(QStringLiteral("Please specify FTP Account Name")));
    if (name != name.trimmed() || name.contains(u'/') || HasControlCharacters(name)) {
        context.Usage(QStringLiteral("an FTP account name has no leading or trailing blanks, no \"/\" and no control "
                                     "characters: ") +
                      EscapeControlCharacters(name));
        return false;
    }
    for (qsizetype i = 0; i < options.FTPAccounts.size(); ++i) {
        if (int(i) != ownIndex && options.FTPAccounts.at(i).AccName.compare(name, Qt::CaseInsensitive) == 0) {
            context.Usage(QStringLiteral("an FTP account named \"") + options.FTPAccounts.at(i).AccName +
                          QStringLiteral("\" exists already"));
            return false;
        }
    }
    return true;
}

// The flags add and edit share; each field is changed only when its flag was given.
struct TAccountFlags {
    bool HasName = false, HasHost = false, HasPort = false, HasUser = false, HasPasswordFile = false;
    QString Name, Host, Port, User, PasswordFile;
    bool Active = false, Passive = false, Ftps = false, NoFtps = false;

    void Take(TCliContext& context, bool editing) {
        if (editing)
            HasName = context.TakeOption(QStringLiteral("--name"), &Name);
        HasHost = context.TakeOption(QStringLiteral("--host"), &Host);
        HasPort = context.TakeOption(QStringLiteral("--port"), &Port);
        HasUser = context.TakeOption(QStringLiteral("--user"), &User);
        HasPasswordFile = context.TakeOption(QStringLiteral("--password-file"), &PasswordFile);
        Active = context.TakeSwitch(QStringLiteral("--active"));
        Ftps = context.TakeSwitch(QStringLiteral("--ftps"));
        if (editing) {
            Passive = context.TakeSwitch(QStringLiteral("--passive"));
            NoFtps = context.TakeSwitch(QStringLiteral("--no-ftps"));
        }
    }

    // Copies the given flags into account; false after saying why.
    bool Apply(TCliContext& context, TFTPAccount& account) const {
        if (Active && Passive)
            return Refuse(context, QStringLiteral("--active and --passive exclude each other"));
        if (Ftps && NoFtps)
            return Refuse(context, QStringLiteral("--ftps and --no-ftps exclude each other"));
        if (HasHost) {
            const QString host = Host.trimmed();
            if (host.isEmpty() || host.contains(u' ') || host.contains(u'/') || HasControlCharacters(host))
                return Refuse(context, QStringLiteral("not a host name or address: ") + EscapeControlCharacters(Host));
            account.Host = host;
        }
        if (HasPort) {
            bool ok = false;
            const int port = Port.trimmed().toInt(&ok);
            if (!ok || port < 1 || port > 65535)
                return Refuse(context, QStringLiteral("--port takes a number from 1 to 65535: ") + Port);
            account.Port = port;
        }
        if (HasUser) {
            if (HasControlCharacters(User))
                return Refuse(context, QStringLiteral("the user name holds control characters"));
            account.Username = User;
        }
        if (HasPasswordFile) {
            QString password;
            if (!ReadPasswordFile(context, PasswordFile, password))
                return false;
            if (HasControlCharacters(password))
                return Refuse(context, QStringLiteral("the password holds control characters"));
            account.Password = password;
        }
        if (Active)
            account.PassiveMode = false;
        if (Passive)
            account.PassiveMode = true;
        if (Ftps)
            account.FTPS = true;
        if (NoFtps)
            account.FTPS = false;
        return true;
    }
};

int Save(TCliContext& context, const QString& done) {
    if (!context.Application().SaveOptions()) {
        context.Err << "vaultora-cli: cannot save the options file in " << App().ApplicationDirectory << Qt::endl;
        return ceErrors;
    }
    context.Out << done << Qt::endl;
    return ceOk;
}

int AddAccount(TCliContext& context) {
    TAccountFlags flags;
    flags.Take(context, false);
    if (context.Args.size() != 1 || !flags.HasHost || !flags.HasUser || !flags.HasPasswordFile)
        return context.Usage(QStringLiteral(
            "usage: ftp-account add NAME --host HOST [--port N] --user USER --password-file FILE [--active] [--ftps]"));
    TOptions& options = App().Options;
    const QString name = context.Args.first();
    if (!CheckAccountName(context, options, name, -1))
        return ceUsage;
    TFTPAccount account;
    account.AccName = name;
    if (!flags.Apply(context, account))
        return ceUsage;
    const int32_t id = AddFTPAccount(options, account);
    if (id < 0)
        return context.Usage(QStringLiteral("no FTP account identifier is left"));
    return Save(context, QStringLiteral("Added FTP account \"%1\" (ID %2).").arg(name).arg(id));
}

int EditAccount(TCliContext& context) {
    TAccountFlags flags;
    flags.Take(context, true);
    if (context.Args.size() != 1)
        return context.Usage(QStringLiteral(
            "usage: ftp-account edit NAME [--name NEW] [--host HOST] [--port N] [--user USER] [--password-file FILE] "
            "[--active | --passive] [--ftps | --no-ftps]"));
    TOptions& options = App().Options;
    const int index = AccountIndex(options, context.Args.first());
    if (index < 0)
        return context.Usage(QStringLiteral("no FTP account named \"") + context.Args.first() + u'"');
    // Every check passes before anything changes: a refused flag leaves the account as it was.
    TFTPAccount account = options.FTPAccounts.at(index);
    if (flags.HasName) {
        if (!CheckAccountName(context, options, flags.Name, index))
            return ceUsage;
        account.AccName = flags.Name;
    }
    if (!flags.Apply(context, account))
        return ceUsage;
    EditFTPAccount(options, account.ID, account);
    return Save(context, QStringLiteral("Changed FTP account \"%1\".").arg(account.AccName));
}

int RemoveAccount(TCliContext& context) {
    if (context.Args.size() != 1)
        return context.Usage(QStringLiteral("usage: ftp-account remove NAME"));
    TOptions& options = App().Options;
    const int index = AccountIndex(options, context.Args.first());
    if (index < 0)
        return context.Usage(QStringLiteral("no FTP account named \"") + context.Args.first() + u'"');
    RemoveFTPAccount(options, index);
    return Save(context, QStringLiteral("Removed FTP account \"%1\".").arg(context.Args.first()));
}

int ListAccounts(TCliContext& context) {
    if (!context.Args.isEmpty())
        return context.Usage(QStringLiteral("usage: ftp-account list"));
    // One line per account; the password only as whether one is set.
    for (const TFTPAccount& a : App().Options.FTPAccounts) {
        context.Out << a.ID << '\t' << EscapeControlCharacters(a.AccName) << '\t' << EscapeControlCharacters(a.Username)
                    << '@' << EscapeControlCharacters(a.Host) << ':' << a.Port << '\t'
                    << (a.PassiveMode ? "passive" : "active") << '\t' << (a.FTPS ? "ftps" : "plain") << '\t'
                    << TranslateText(a.Password.isEmpty() ? QStringLiteral("Password is not set")
                                                          : QStringLiteral("Password is set"))
                    << '\n';
    }
    context.Out.flush();
    return ceOk;
}

} // namespace

int CommandFtpAccount(TCliContext& context) {
    const QString action = context.Args.isEmpty() ? QString() : context.Args.takeFirst();
    if (action == QLatin1String("add"))
        return AddAccount(context);
    if (action == QLatin1String("edit"))
        return EditAccount(context);
    if (action == QLatin1String("remove"))
        return RemoveAccount(context);
    if (action == QLatin1String("list"))
        return ListAccounts(context);
    return context.Usage(QStringLiteral("usage: ftp-account add|edit|remove|list ..."));
}

bool ParseFtpDestination(TCliContext& context, const QString& text, TDestinationSettings& destination) {
    const QString rest = text.mid(int(qstrlen("ftp://")));
    const qsizetype slash = rest.indexOf(u'/');
    const QString name = slash < 0 ? rest : rest.left(slash);
    QString subfolder = slash < 0 ? QStringLiteral("/") : rest.mid(slash);
    if (name.isEmpty()) {
        context.Usage(QStringLiteral("ftp:// needs an FTP account name: ftp://ACCOUNT/folder"));
        return false;
    }
    const int index = AccountIndex(App().Options, name);
    if (index < 0) {
        context.Usage(QStringLiteral("no FTP account named \"") + name +
                      QStringLiteral("\"; add it with \"ftp-account add\" (\"ftp-account list\" shows them)"));
        return false;
    }
    // The folder becomes part of FTP commands: a line break in it would start a command of its own.
    if (HasControlCharacters(subfolder)) {
        context.Usage(QStringLiteral("the FTP folder holds control characters: ") + EscapeControlCharacters(subfolder));
        return false;
    }
    while (subfolder.contains(QStringLiteral("//")))
        subfolder.replace(QStringLiteral("//"), QStringLiteral("/"));
    destination.DestinationType = dtFTP;
    destination.FTP.AccountID = App().Options.FTPAccounts.at(index).ID;
    destination.FTP.Subfolder = subfolder;
    return true;
}
