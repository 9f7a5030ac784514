#include "jobs/driveimage/TDriveImageOutput.h"

namespace {
const QString AccessDenied = QStringLiteral("Access denied. You must be a member");
const QString CopiedMark = QStringLiteral(", copied (");
} // namespace

QList<TDriveImageOutputAction> TDriveImageOutput::Feed(const QByteArray& bytes) {
    m_pending += bytes;
    const qsizetype end = m_pending.lastIndexOf('\n');
    if (end < 0)
        return {};
    const QByteArray complete = m_pending.left(end);
    m_pending.remove(0, end + 1);
    return ParseLines(complete.split('\n'));
}

QList<TDriveImageOutputAction> TDriveImageOutput::Finish() {
    if (m_pending.isEmpty())
        return {};
    const QByteArray last = m_pending;
    m_pending.clear();
    return ParseLines({last});
}

QList<TDriveImageOutputAction> TDriveImageOutput::ParseLines(const QList<QByteArray>& raw) {
    QList<QString> lines;
    for (QByteArray line : raw) {
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(QString::fromLocal8Bit(line));
    }
    QList<TDriveImageOutputAction> actions;
    for (const QString& line : std::as_const(lines)) {
        if (line.contains(AccessDenied)) {
            // The tool could not read a volume with the rights it has: the lines of this read are
            // its explanation, replaced by ours.
            actions.append({TDriveImageOutputAction::Error,
                            Tr(QStringLiteral("ERROR:")) + u' ' +
                                Tr(QStringLiteral("For system backup you must run the application as admin.")),
                            0});
            return actions;
        }
    }
    for (QString line : lines) {
        if (line.contains(QStringLiteral("ERROR"))) {
            actions.append({TDriveImageOutputAction::Error,
                            line.replace(QStringLiteral("ERROR"), Tr(QStringLiteral("ERROR:"))), 0});
        } else if (line.contains(QStringLiteral("There is not enough free space on the backup storage location")) ||
                   line.contains(QStringLiteral("Another backup or recovery operation is in progress"))) {
            actions.append({TDriveImageOutputAction::Error, Tr(QStringLiteral("ERROR:")) + line, 0});
        } else if (line.contains(QStringLiteral("Copyright")) ||
                   line.contains(QStringLiteral("Backup command-line tool"))) {
            m_sawBanner = true;
        } else if (const qsizetype mark = line.indexOf(CopiedMark); mark >= 0) {
            const qsizetype from = mark + CopiedMark.size();
            const qsizetype percent = line.indexOf(u'%', from);
            if (percent < 0)
                continue;
            bool ok = false;
            const int value = QStringView(line).mid(from, percent - from).toInt(&ok);
            if (ok)
                actions.append({TDriveImageOutputAction::Progress, line.left(mark), value});
        } else if (!line.isEmpty()) {
            actions.append({TDriveImageOutputAction::Plain, line, 0});
        }
    }
    return actions;
}
