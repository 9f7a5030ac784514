#include "core/startup/TCommandLine.h"

#include <QDir>

namespace {

bool IsSwitch(const QString& argument, QLatin1String word) {
    if (argument.size() != word.size() + 1)
        return false;
    const QChar prefix = argument.at(0);
    return (prefix == u'/' || prefix == u'-') && QStringView(argument).mid(1).compare(word, Qt::CaseInsensitive) == 0;
}

} // namespace

bool TCommandLine::Parse(const QStringList& arguments, QString* errorText) {
    *this = TCommandLine();
    const QString option = QStringLiteral("--data-dir");
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == option) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty()) {
                if (errorText)
                    *errorText = QStringLiteral("--data-dir needs a folder");
                return false;
            }
            DataDirectory = arguments.at(++i);
        } else if (argument.startsWith(option + u'=')) {
            DataDirectory = argument.mid(option.size() + 1);
            if (DataDirectory.isEmpty()) {
                if (errorText)
                    *errorText = QStringLiteral("--data-dir needs a folder");
                return false;
            }
        } else {
            Arguments.append(argument);
        }
    }
    for (const QString& argument : std::as_const(Arguments)) {
        Backup = Backup || IsSwitch(argument, QLatin1String("backup"));
        Restore = Restore || IsSwitch(argument, QLatin1String("restore"));
        Remove = Remove || IsSwitch(argument, QLatin1String("remove"));
        Admin = Admin || IsSwitch(argument, QLatin1String("admin"));
        Hide = Hide || IsSwitch(argument, QLatin1String("hide"));
    }
    FirstArgument = Arguments.value(0);
    JobName = Arguments.value(1);
    return true;
}

QString TCommandLine::FileExtension(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || dot < slash)
        return {};
    return path.mid(dot);
}

QString TCommandLine::JobFileToOpen(const QString& remoteJobFileExtension) const {
    if (FirstArgument.isEmpty() || FileExtension(FirstArgument) != remoteJobFileExtension)
        return {};
    return FirstArgument;
}

QString TCommandLine::JobFileToHandOver(const QString& remoteJobFileExtension, const QString& workingDirectory) const {
    const QString file = JobFileToOpen(remoteJobFileExtension);
    if (file.isEmpty())
        return {};
    return QDir::cleanPath(QDir(workingDirectory).absoluteFilePath(file));
}
