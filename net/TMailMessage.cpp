#include "net/TMailMessage.h"

#include "net/MimeText.h"

#include <QUrl>
#include <QUuid>

namespace {

// Text parts are sent with CR LF line ends, the canonical form of text/plain.
QByteArray CanonicalLines(const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(u'\r', u'\n');
    lines.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return lines.toUtf8();
}

QByteArray MessageIdDomain(const QString& sender) {
    const qsizetype at = sender.lastIndexOf(u'@');
    const QString domain = at >= 0 ? sender.mid(at + 1) : QString();
    const QByteArray ace = QUrl::toAce(domain);
    return ace.isEmpty() ? QByteArrayLiteral("localhost") : ace;
}

} // namespace

QByteArray TMailMessage::Compose(const QList<TMailAddress>& recipients, const QDateTime& now) const {
    // Base64 never yields "--" at a line start, so this boundary cannot occur in the parts.
    const QByteArray boundary = "=_" + QUuid::createUuid().toByteArray(QUuid::Id128);

    TMailAddress sender;
    sender.Name = SenderName;
    sender.Address = SenderAddress;

    QByteArray to;
    for (const TMailAddress& recipient : recipients) {
        if (!to.isEmpty())
            to.append(",\r\n ");
        to.append(recipient.ToHeaderText());
    }

    QByteArray mail;
    mail.reserve(AttachmentData.size() * 4 / 3 + Text.size() * 2 + 2048);
    mail.append("From: " + sender.ToHeaderText() + "\r\n");
    mail.append("To: " + to + "\r\n");
    mail.append("Subject: " + MimeText::EncodeUnstructured(Subject) + "\r\n");
    mail.append("Date: " + now.toString(Qt::RFC2822Date).toLatin1() + "\r\n");
    mail.append("Message-ID: <" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + '@' +
                MessageIdDomain(SenderAddress) + ">\r\n");
    mail.append("MIME-Version: 1.0\r\n");
    mail.append("Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n");
    mail.append("\r\n");

    mail.append("--" + boundary + "\r\n");
    mail.append("Content-Type: text/plain; charset=UTF-8\r\n");
    mail.append("Content-Transfer-Encoding: base64\r\n\r\n");
    mail.append(MimeText::Base64Lines(CanonicalLines(Text)));

    if (!AttachmentName.isEmpty()) {
        mail.append("--" + boundary + "\r\n");
        mail.append("Content-Type: text/plain; charset=UTF-8; " + MimeText::Parameter("name", AttachmentName) + "\r\n");
        mail.append("Content-Disposition: attachment; " + MimeText::Parameter("filename", AttachmentName) + "\r\n");
        mail.append("Content-Transfer-Encoding: base64\r\n\r\n");
        mail.append(MimeText::Base64Lines(AttachmentData));
    }
    mail.append("--" + boundary + "--\r\n");
    return mail;
}
