#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// The product web site: the user guide, support, contact and help pages opened in the browser.
// Its address is chosen when the program is built (VAULTORA_PRODUCT_SITE) and may be overridden
// per user with the value "product_site" of the window settings.
class TProductSite {
public:
    // "scheme://host" without a trailing slash.
    static QString Address();
    static void SetAddress(const QString& address);

    static QUrl UserGuide();                      // "/manual/index.html"
    static QUrl Support(const QString& language); // "/" + code + "/support.html", no code for "en"
    static QUrl Contact(const QString& language); // "/" + code + "/contact.html"
    static QUrl Website(const QString& language); // "/" + code + "/"
    static QUrl AppPasswordHelp();                // "/manual/generate-app-password.html" over https
    static QUrl FtpClientHelp();                  // "/manual/ftp-client.html" over https

    // Opens a page in the default browser (QDesktopServices); tests replace the opener.
    static void Open(const QUrl& url);
    static void SetOpener(std::function<void(const QUrl&)> opener);
};
