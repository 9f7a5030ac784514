#include "platform/TXdgAutostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// Exec-line quoting of the desktop entry format: inside double quotes, '"', '`', '$' and '\' are
// escaped with a backslash; the value as a whole is a string, whose own escape doubles every
// backslash again; '%' starts a field code and is written "%%".
QString QuotedExecArgument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';
    QString escaped;
    for (const QChar c : quoted) {
        if (c == u'\\')
            escaped += QStringLiteral("\\\\");
        else if (c == u'%')
            escaped += QStringLiteral("%%");
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

TXdgAutostart::TXdgAutostart(const QString& configDirectory, const QString& executablePath)
    : m_folder(configDirectory + QStringLiteral("/autostart"))
    , m_executablePath(executablePath) {}

TXdgAutostart::TXdgAutostart(const QString& executablePath)
    : TXdgAutostart(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation), executablePath) {}

QString TXdgAutostart::EntryPath() const {
    return m_folder + QStringLiteral("/vaultora.desktop");
}

QString TXdgAutostart::EntryText(const QString& executablePath) {
    if (executablePath.contains(u'\n') || executablePath.contains(u'\r'))
        return {};
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Vaultora\n"
                          "Exec=") +
           QuotedExecArgument(executablePath) +
           QStringLiteral(" /hide\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n");
}

TAutostart::TResult TXdgAutostart::SetAutostart(bool on) {
    const QString entry = EntryPath();
    if (!on) {
        if (!QFileInfo::exists(entry) && !QFileInfo(entry).isSymLink())
            return TResult::Done;
        return QFile::remove(entry) ? TResult::Done : TResult::WriteFailed;
    }
    if (!QDir().mkpath(m_folder))
        return TResult::CannotOpen;
    const QString text = EntryText(m_executablePath);
    if (text.isEmpty())
        return TResult::WriteFailed;
    QSaveFile file(entry);
    if (!file.open(QIODevice::WriteOnly))
        return TResult::WriteFailed;
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size())
        return TResult::WriteFailed;
    return file.commit() ? TResult::Done : TResult::WriteFailed;
}

bool TXdgAutostart::IsAutostartOn() const {
    return QFileInfo::exists(EntryPath());
}
