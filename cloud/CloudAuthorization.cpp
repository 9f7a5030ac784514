#include "cloud/CloudAuthorization.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

namespace {

QString Base64Url(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QByteArray RandomBytes(int count) {
    QByteArray bytes(count, Qt::Uninitialized);
    // The system generator: a verifier or state guessed from the clock would defeat its purpose.
    QRandomGenerator* random = QRandomGenerator::system();
    for (char& byte : bytes)
        byte = char(random->bounded(256));
    return bytes;
}

} // namespace

QString PkceChallenge(const QString& verifier) {
    return Base64Url(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256));
}

TPkcePair MakePkcePair() {
    TPkcePair pair;
    pair.Verifier = Base64Url(RandomBytes(32));
    pair.Challenge = PkceChallenge(pair.Verifier);
    return pair;
}

QString RandomState() {
    return Base64Url(RandomBytes(24));
}

TTokenAnswer RequestToken(THttpClient& http, const QString& url, const QList<QPair<QString, QString>>& fields) {
    TTokenAnswer answer;
    THttpRequest request;
    request.Url = url;
    request.ContentType = "application/x-www-form-urlencoded";
    request.Body = THttpClient::FormBody(fields);
    const THttpResponse response = http.Send(request);
    answer.Status = response.Status;
    if (response.Status == 0) {
        answer.Error = response.Error;
        return answer;
    }
    const QJsonObject json = QJsonDocument::fromJson(response.Body).object();
    if (response.Status != 200) {
        // error and error_description of RFC 6749; never the request, which holds the tokens.
        QString text = QStringLiteral("HTTP %1").arg(response.Status);
        const QString error = json.value(u"error").toString();
        const QString description = json.value(u"error_description").toString();
        if (!error.isEmpty())
            text += QStringLiteral(": ") + error;
        if (!description.isEmpty())
            text += QStringLiteral(" (") + description + u')';
        answer.Error = text;
        return answer;
    }
    answer.AccessToken = json.value(u"access_token").toString();
    answer.RefreshToken = json.value(u"refresh_token").toString();
    if (answer.AccessToken.isEmpty()) {
        answer.Error = QStringLiteral("The token answer holds no access token.");
        return answer;
    }
    answer.Ok = true;
    return answer;
}

QString CloudSessionExpiredTemplate() {
    return QStringLiteral("The cloud session has expired. You have to authorize again. Open the Cloud Client, and "
                          "choose \"%s\" in the dropdown menu of \"Connect\" button.");
}
