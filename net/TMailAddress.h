#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One mailbox of a header or the envelope: an optional display name and the address itself.
class TMailAddress {
public:
    QString Name;
    QString Address;

    // Splits a comma-separated list as users type it ("a@x.org, \"Doe, Jo\" <jo@y.org>"). Blank
    // entries are skipped. Fails with a reason when no address remains or an entry could smuggle
    // protocol text (line breaks, NUL, angle brackets inside the address).
    static bool ParseList(const QString& text, QList<TMailAddress>& addresses, QString& errorText);

    // True when the address can stand between "<" and ">" in a command or header: no control
    // characters, blanks or angle brackets. An empty address passes (the null sender).
    static bool IsUsableAddress(const QString& address);

    // The mailbox as header text: Name <Address>, the name quoted or encoded as needed.
    QByteArray ToHeaderText() const;
};
