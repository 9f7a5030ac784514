LibreOffice
%XDG_CONFIG_HOME%/libreoffice/4/user/registrymodifications.xcu
%XDG_CONFIG_HOME%/libreoffice/4/user/basic
%XDG_CONFIG_HOME%/libreoffice/4/user/autotext
%XDG_CONFIG_HOME%/libreoffice/4/user/autocorr
%XDG_CONFIG_HOME%/libreoffice/4/user/template
%XDG_CONFIG_HOME%/libreoffice/4/user/wordbook
%XDG_CONFIG_HOME%/libreoffice/4/user/config
%HOME%/.var/app/org.libreoffice.LibreOffice/config/libreoffice/4/user/registrymodifications.xcu
%HOME%/.var/app/org.libreoffice.LibreOffice/config/libreoffice/4/user/basic
%HOME%/.var/app/org.libreoffice.LibreOffice/config/libreoffice/4/user/autotext
%HOME%/.var/app/org.libreoffice.LibreOffice/config/libreoffice/4/user/autocorr
%HOME%/.var/app/org.libreoffice.LibreOffice/config/libreoffice/4/user/template
%HOME%/.var/app/org.libreoffice.LibreOffice/config/libreoffice/4/user/wordbook
%HOME%/.var/app/org.libreoffice.LibreOffice/config/libreoffice/4/user/config

Calibre
%XDG_CONFIG_HOME%/calibre
%HOME%/.var/app/com.calibre_ebook.calibre/config/calibre

Okular
%XDG_CONFIG_HOME%/okularrc
%XDG_CONFIG_HOME%/okularpartrc
%XDG_DATA_HOME%/okular
%HOME%/.var/app/org.kde.okular/config/okularrc
%HOME%/.var/app/org.kde.okular/data/okular

Evince
HKEY_CURRENT_USER/org/gnome/evince

GnuCash
%XDG_DATA_HOME%/gnucash
%HOME%/.var/app/org.gnucash.GnuCash/data/gnucash
HKEY_CURRENT_USER/org/gnucash

Zotero
%HOME%/Zotero
%HOME%/.zotero
%HOME%/.var/app/org.zotero.Zotero/.zotero

Joplin
%XDG_CONFIG_HOME%/joplin-desktop
%HOME%/.var/app/net.cozic.joplin_desktop/config/joplin-desktop

Xournal++
%XDG_CONFIG_HOME%/xournalpp
%HOME%/.var/app/com.github.xournalpp.xournalpp/config/xournalpp

Obsidian
%XDG_CONFIG_HOME%/obsidian/obsidian.json
%HOME%/.var/app/md.obsidian.Obsidian/config/obsidian/obsidian.json

Gnumeric
HKEY_CURRENT_USER/org/gnome/gnumeric
