#include "jobs/appdata/AppDefinitions.h"

#include "core/settings/TAppGlobals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>

namespace {

QString DecodeDefinitionText(const QByteArray& bytes) {
    const auto at = [&bytes](qsizetype i) { return uchar(bytes.at(i)); };
    if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF)
        return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    if (bytes.size() >= 2 && ((at(0) == 0xFF && at(1) == 0xFE) || (at(0) == 0xFE && at(1) == 0xFF))) {
        const bool little = at(0) == 0xFF;
        // Whole code units only: a truncated last unit is not half a character.
        const qsizetype units = (bytes.size() - 2) / 2;
        QString text(units, Qt::Uninitialized);
        char16_t* out = reinterpret_cast<char16_t*>(text.data());
        for (qsizetype i = 0; i < units; ++i) {
            const uchar a = at(2 + 2 * i);
            const uchar b = at(3 + 2 * i);
            out[i] = little ? char16_t(a | (b << 8)) : char16_t((a << 8) | b);
        }
        return text;
    }
    return QString::fromLocal8Bit(bytes);
}

// Lines as a text list reads them: CR LF, LF and CR end a line; a break at the very end does not
// start another line.
QStringList SplitLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            lines.append(text.mid(start, i - start));
            if (c == u'\r' && i + 1 < size && text.at(i + 1) == u'\n')
                ++i;
            start = i + 1;
        }
        ++i;
    }
    if (start < size)
        lines.append(text.mid(start));
    return lines;
}

struct TSharedDefinitions {
    std::mutex Lock;
    QList<TAppData> List;
    bool Loaded = false;
};

TSharedDefinitions& Shared() {
    static TSharedDefinitions shared;
    return shared;
}

} // namespace

QList<TAppData> ParseDefinitionFile(const QByteArray& bytes, const QString& category) {
    QList<TAppData> definitions;
    bool inBlock = false;
    for (const QString& line : SplitLines(DecodeDefinitionText(bytes))) {
        if (!inBlock) {
            TAppData definition;
            definition.Name = line;
            definition.Category = category;
            definitions.append(definition);
            inBlock = true;
        } else if (line.isEmpty()) {
            inBlock = false;
        } else if (line.startsWith(QStringLiteral("HKEY_"))) {
            definitions.last().RegistryPaths.append(line);
        } else {
            definitions.last().Folders.append(line);
        }
    }
    return definitions;
}

bool LoadDefinitionsFrom(const QString& folder, QList<TAppData>& list) {
    const qsizetype before = list.size();
    QDir dir(folder);
    const QFileInfoList entries = dir.entryInfoList(
        {QStringLiteral("*.adp")}, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir())
            return false;
        QFile file(entry.filePath());
        if (!file.open(QIODevice::ReadOnly) || file.size() > MaxDefinitionFileSize)
            return false;
        const QByteArray bytes = file.read(MaxDefinitionFileSize + 1);
        if (bytes.size() > MaxDefinitionFileSize || file.error() != QFileDevice::NoError)
            return false;
        list.append(ParseDefinitionFile(bytes, entry.completeBaseName()));
    }
    return list.size() > before;
}

namespace AppDefinitions {

QString Folder() {
    return App().ProgramDataDirectory + QStringLiteral("/AppDataBackupPaths");
}

bool Load(const QString& folder) {
    QList<TAppData> list;
    const bool ok = LoadDefinitionsFrom(folder.isEmpty() ? Folder() : folder, list);
    TSharedDefinitions& shared = Shared();
    const std::lock_guard guard(shared.Lock);
    shared.List = std::move(list);
    shared.Loaded = ok;
    return ok;
}

bool Loaded() {
    TSharedDefinitions& shared = Shared();
    const std::lock_guard guard(shared.Lock);
    return shared.Loaded;
}

QList<TAppData> List() {
    TSharedDefinitions& shared = Shared();
    const std::lock_guard guard(shared.Lock);
    return shared.List;
}

bool Find(const QString& name, TAppData& out) {
    TSharedDefinitions& shared = Shared();
    const std::lock_guard guard(shared.Lock);
    for (const TAppData& definition : std::as_const(shared.List)) {
        if (definition.Name == name) {
            out = definition;
            return true;
        }
    }
    return false;
}

} // namespace AppDefinitions
