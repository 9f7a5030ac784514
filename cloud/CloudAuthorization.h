#pragma once

#include "net/THttpClient.h"

#include <QList>
#include <QPair>
#include <QString>

#include <functional>

// What an authorization-code handler came to: the code, or "fail" (the service gave no code) or
// "cancel" (the user gave up); or an Error that ends the authorization with that text (the
// backup job's handler: a job never opens a browser).
struct TCodeAnswer {
    QString Code;
    QString Error;
};
// Turns an authorization address into a code.
using TCodeRequestHandler = std::function<TCodeAnswer(const QString& url)>;

// The PKCE pair of RFC 7636 (S256): a verifier of 43 characters of the URL-safe base64 alphabet
// from 32 random octets, and the challenge made from it.
struct TPkcePair {
    QString Verifier;
    QString Challenge;
};
TPkcePair MakePkcePair();
// The S256 challenge of a verifier.
QString PkceChallenge(const QString& verifier);
// A random value for the "state" parameter of an authorization (URL-safe, 32 characters).
QString RandomState();

// The answer of a token endpoint.
struct TTokenAnswer {
    bool Ok = false;
    QString AccessToken;
    QString RefreshToken; // empty when the answer holds none
    QString Error;        // why it failed (no token appears in it)
    int Status = 0;       // the HTTP status; 0 without an answer
};
// POSTs the form fields (percent-encoded) to the token endpoint and reads the answer.
TTokenAnswer RequestToken(THttpClient& http, const QString& url, const QList<QPair<QString, QString>>& fields);

// The text a job's handler raises when the service wants the user to sign in again (translated
// by the caller); %s is the service name.
QString CloudSessionExpiredTemplate();
