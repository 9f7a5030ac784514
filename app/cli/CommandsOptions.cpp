#include "app/cli/Commands.h"
#include "app/cli/TCliContext.h"

#include "core/format/OptionsJson.h"
#include "core/settings/TAppGlobals.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

QString ScalarText(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return QString::number(value.toInteger());
    default:
        return value.toString();
    }
}

// "Group.Field: value" lines, arrays as "Name[i]".
void PrintFlat(QTextStream& out, const QString& name, const QJsonValue& value) {
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            PrintFlat(out, name.isEmpty() ? it.key() : name + u'.' + it.key(), it.value());
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i)
            PrintFlat(out, name + u'[' + QString::number(i) + u']', array.at(i));
    } else {
        out << name << ": " << ScalarText(value) << '\n';
    }
}

} // namespace

int CommandOptions(TCliContext& context) {
    const bool json = context.TakeSwitch(QStringLiteral("--json"));
    if (!context.Args.isEmpty())
        return context.Usage(QStringLiteral("usage: options [--json]"));
    const QJsonObject options = OptionsToJson(App().Options);
    if (json)
        context.Out << QString::fromUtf8(QJsonDocument(options).toJson(QJsonDocument::Indented));
    else
        PrintFlat(context.Out, QString(), options);
    context.Out.flush();
    return ceOk;
}

int CommandEvents(TCliContext& context) {
    if (!context.Args.isEmpty())
        return context.Usage(QStringLiteral("events takes no arguments"));
    for (const QString& line : App().EventsLog.PendingLines())
        context.Out << line << '\n';
    context.Out.flush();
    return ceOk;
}
