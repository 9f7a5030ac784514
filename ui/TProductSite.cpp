#include "ui/TProductSite.h"

#include <QDesktopServices>

#ifndef VAULTORA_PRODUCT_SITE
#define VAULTORA_PRODUCT_SITE "https://www.vaultora.example"
#endif

namespace {

QString& AddressValue() {
    static QString address = QStringLiteral(VAULTORA_PRODUCT_SITE);
    return address;
}

std::function<void(const QUrl&)>& Opener() {
    static std::function<void(const QUrl&)> opener;
    return opener;
}

QString LanguagePart(const QString& language) {
    return language.isEmpty() || language == QStringLiteral("en") ? QString() : u'/' + language;
}

QUrl Page(const QString& path) {
    return QUrl(AddressValue() + path);
}

} // namespace

QString TProductSite::Address() {
    return AddressValue();
}

void TProductSite::SetAddress(const QString& address) {
    QString value = address.trimmed();
    while (value.endsWith(u'/'))
        value.chop(1);
    if (!value.isEmpty())
        AddressValue() = value;
}

QUrl TProductSite::UserGuide() {
    return Page(QStringLiteral("/manual/index.html"));
}

QUrl TProductSite::Support(const QString& language) {
    return Page(LanguagePart(language) + QStringLiteral("/support.html"));
}

QUrl TProductSite::Contact(const QString& language) {
    return Page(LanguagePart(language) + QStringLiteral("/contact.html"));
}

QUrl TProductSite::Website(const QString& language) {
    return Page(LanguagePart(language) + u'/');
}

QUrl TProductSite::AppPasswordHelp() {
    QUrl url = Page(QStringLiteral("/manual/generate-app-password.html"));
    url.setScheme(QStringLiteral("https"));
    return url;
}

QUrl TProductSite::FtpClientHelp() {
    QUrl url = Page(QStringLiteral("/manual/ftp-client.html"));
    url.setScheme(QStringLiteral("https"));
    return url;
}

void TProductSite::Open(const QUrl& url) {
    if (Opener())
        Opener()(url);
    else
        QDesktopServices::openUrl(url);
}

void TProductSite::SetOpener(std::function<void(const QUrl&)> opener) {
    Opener() = std::move(opener);
}
