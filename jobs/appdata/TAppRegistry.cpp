#include "jobs/appdata/TAppRegistry.h"

#include <QFile>
#include <QProcess>
#include <QSaveFile>

namespace {

// The key path below the root, its components; false for an unsupported root.
bool KeyComponents(const QString& registryPath, QStringList& components) {
    static const QString Root = QStringLiteral("HKEY_CURRENT_USER");
    if (!registryPath.startsWith(Root))
        return false; // HKEY_LOCAL_MACHINE and HKEY_USERS have no per-user store
    QString rest = registryPath.mid(Root.size());
    if (rest.isEmpty() || (rest.at(0) != u'\\' && rest.at(0) != u'/'))
        return false;
    rest.replace(u'\\', u'/');
    components = rest.split(u'/', Qt::SkipEmptyParts);
    return !components.isEmpty();
}

// The tool waits for at most this long; a stuck session bus must not hold a run for ever.
constexpr int ToolTimeoutMs = 30'000;

QString Unquote(const QByteArray& printed) {
    QString text = QString::fromUtf8(printed).trimmed();
    if (text.size() >= 2 && (text.front() == u'\'' || text.front() == u'"') && text.back() == text.front()) {
        QString value;
        for (qsizetype i = 1; i + 1 < text.size(); ++i) {
            if (text.at(i) == u'\\' && i + 2 < text.size())
                ++i;
            value.append(text.at(i));
        }
        return value;
    }
    return text;
}

} // namespace

bool DconfFolderOf(const QString& registryPath, QString& folder) {
    QStringList components;
    if (!KeyComponents(registryPath, components))
        return false;
    folder = u'/' + components.join(u'/') + u'/';
    return true;
}

bool DconfKeyOf(const QString& registryPath, QString& key) {
    QStringList components;
    if (!KeyComponents(registryPath, components))
        return false;
    key = u'/' + components.join(u'/');
    return true;
}

TDconfRegistry::TDconfRegistry(QString program)
    : m_program(std::move(program)) {}

TDconfRegistry::TOutput TDconfRegistry::Run(const QStringList& arguments, const QByteArray& input) {
    TOutput output;
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(m_program, arguments);
    if (!process.waitForStarted(ToolTimeoutMs)) {
        output.Error = m_program + QStringLiteral(": ") + process.errorString();
        return output;
    }
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(ToolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        output.Error = m_program + QStringLiteral(": ") + process.errorString();
        return output;
    }
    output.Out = process.readAllStandardOutput();
    output.Ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!output.Ok)
        output.Error = QString::fromLocal8Bit(process.readAllStandardError()).simplified();
    return output;
}

bool TDconfRegistry::Available() {
    return Run({QStringLiteral("list"), QStringLiteral("/")}).Ok;
}

bool TDconfRegistry::KeyExists(const QString& path) {
    QString folder;
    if (!DconfFolderOf(path, folder))
        return false;
    const TOutput listed = Run({QStringLiteral("list"), folder});
    return listed.Ok && !listed.Out.trimmed().isEmpty();
}

QString TDconfRegistry::ReadString(const QString& path) {
    QString key;
    if (!DconfKeyOf(path, key))
        return {};
    const TOutput read = Run({QStringLiteral("read"), key});
    return read.Ok ? Unquote(read.Out) : QString();
}

bool TDconfRegistry::SaveKey(const QString& path, const QString& file, QString* error) {
    QString folder;
    if (!DconfFolderOf(path, folder)) {
        if (error)
            *error = QStringLiteral("SaveRegKey1 ") + path;
        return false;
    }
    const TOutput dumped = Run({QStringLiteral("dump"), folder});
    if (!dumped.Ok) {
        if (error)
            *error = dumped.Error;
        return false;
    }
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(dumped.Out) != dumped.Out.size() || !out.commit()) {
        if (error)
            *error = out.errorString();
        return false;
    }
    return true;
}

bool TDconfRegistry::RestoreKey(const QString& path, const QString& file, QString* error) {
    QString folder;
    if (!DconfFolderOf(path, folder)) {
        if (error)
            *error = QStringLiteral("RestoreRegKey ") + file;
        return false;
    }
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = in.errorString();
        return false;
    }
    const QByteArray dump = in.readAll();
    const TOutput reset = Run({QStringLiteral("reset"), QStringLiteral("-f"), folder});
    const TOutput loaded = reset.Ok ? Run({QStringLiteral("load"), folder}, dump) : reset;
    if (!loaded.Ok && error)
        *error = loaded.Error;
    return loaded.Ok;
}

bool TDconfRegistry::RenameKey(const QString& path, const QString& newName, QString* error) {
    QString folder;
    if (!DconfFolderOf(path, folder) || newName.isEmpty() || newName.contains(u'/')) {
        if (error)
            *error = QStringLiteral("RegKeyRename1 ") + path;
        return false;
    }
    QString parent = folder;
    parent.chop(1);
    parent = parent.left(parent.lastIndexOf(u'/') + 1);
    const QString target = parent + newName + u'/';
    const TOutput dumped = Run({QStringLiteral("dump"), folder});
    TOutput step = dumped.Ok ? Run({QStringLiteral("load"), target}, dumped.Out) : dumped;
    if (step.Ok)
        step = Run({QStringLiteral("reset"), QStringLiteral("-f"), folder});
    if (!step.Ok && error)
        *error = step.Error;
    return step.Ok;
}

TAppRegistry& SystemAppRegistry() {
    static TDconfRegistry registry;
    return registry;
}
