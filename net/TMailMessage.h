#pragma once

#include "net/TMailAddress.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// A mail as the program sends it: UTF-8 text and at most one attachment, as multipart/mixed.
class TMailMessage {
public:
    QString SenderAddress; // may be empty (the null sender)
    QString SenderName;
    QString Recipients; // comma-separated, as typed in the options
    QString Subject;
    QString Text;
    QString AttachmentName; // empty: no attachment
    QByteArray AttachmentData;

    // The message as sent after DATA: CR LF lines, 7-bit, headers that no field can split.
    // recipients is the parsed Recipients list (see TMailAddress::ParseList).
    QByteArray Compose(const QList<TMailAddress>& recipients, const QDateTime& now) const;
};
