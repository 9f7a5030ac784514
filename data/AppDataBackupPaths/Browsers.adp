Firefox
%HOME%/.mozilla/firefox
%HOME%/.var/app/org.mozilla.firefox/.mozilla/firefox

Chromium
%XDG_CONFIG_HOME%/chromium/Local State
%XDG_CONFIG_HOME%/chromium/Default/Bookmarks
%XDG_CONFIG_HOME%/chromium/Default/Preferences
%XDG_CONFIG_HOME%/chromium/Default/Secure Preferences
%XDG_CONFIG_HOME%/chromium/Default/History
%XDG_CONFIG_HOME%/chromium/Default/Favicons
%XDG_CONFIG_HOME%/chromium/Default/Web Data
%XDG_CONFIG_HOME%/chromium/Default/Extensions
%HOME%/.var/app/org.chromium.Chromium/config/chromium/Local State
%HOME%/.var/app/org.chromium.Chromium/config/chromium/Default/Bookmarks
%HOME%/.var/app/org.chromium.Chromium/config/chromium/Default/Preferences
%HOME%/.var/app/org.chromium.Chromium/config/chromium/Default/Secure Preferences
%HOME%/.var/app/org.chromium.Chromium/config/chromium/Default/History
%HOME%/.var/app/org.chromium.Chromium/config/chromium/Default/Favicons
%HOME%/.var/app/org.chromium.Chromium/config/chromium/Default/Web Data
%HOME%/.var/app/org.chromium.Chromium/config/chromium/Default/Extensions

Google Chrome
%XDG_CONFIG_HOME%/google-chrome/Local State
%XDG_CONFIG_HOME%/google-chrome/Default/Bookmarks
%XDG_CONFIG_HOME%/google-chrome/Default/Preferences
%XDG_CONFIG_HOME%/google-chrome/Default/Secure Preferences
%XDG_CONFIG_HOME%/google-chrome/Default/History
%XDG_CONFIG_HOME%/google-chrome/Default/Favicons
%XDG_CONFIG_HOME%/google-chrome/Default/Web Data
%XDG_CONFIG_HOME%/google-chrome/Default/Extensions
%HOME%/.var/app/com.google.Chrome/config/google-chrome/Local State
%HOME%/.var/app/com.google.Chrome/config/google-chrome/Default/Bookmarks
%HOME%/.var/app/com.google.Chrome/config/google-chrome/Default/Preferences
%HOME%/.var/app/com.google.Chrome/config/google-chrome/Default/Secure Preferences
%HOME%/.var/app/com.google.Chrome/config/google-chrome/Default/History
%HOME%/.var/app/com.google.Chrome/config/google-chrome/Default/Favicons
%HOME%/.var/app/com.google.Chrome/config/google-chrome/Default/Web Data
%HOME%/.var/app/com.google.Chrome/config/google-chrome/Default/Extensions

Brave
%XDG_CONFIG_HOME%/BraveSoftware/Brave-Browser/Local State
%XDG_CONFIG_HOME%/BraveSoftware/Brave-Browser/Default/Bookmarks
%XDG_CONFIG_HOME%/BraveSoftware/Brave-Browser/Default/Preferences
%XDG_CONFIG_HOME%/BraveSoftware/Brave-Browser/Default/Secure Preferences
%XDG_CONFIG_HOME%/BraveSoftware/Brave-Browser/Default/History
%XDG_CONFIG_HOME%/BraveSoftware/Brave-Browser/Default/Favicons
%XDG_CONFIG_HOME%/BraveSoftware/Brave-Browser/Default/Web Data
%XDG_CONFIG_HOME%/BraveSoftware/Brave-Browser/Default/Extensions
%HOME%/.var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser/Local State
%HOME%/.var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser/Default/Bookmarks
%HOME%/.var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser/Default/Preferences
%HOME%/.var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser/Default/Secure Preferences
%HOME%/.var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser/Default/History
%HOME%/.var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser/Default/Favicons
%HOME%/.var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser/Default/Web Data
%HOME%/.var/app/com.brave.Browser/config/BraveSoftware/Brave-Browser/Default/Extensions

Vivaldi
%XDG_CONFIG_HOME%/vivaldi/Local State
%XDG_CONFIG_HOME%/vivaldi/Default/Bookmarks
%XDG_CONFIG_HOME%/vivaldi/Default/Preferences
%XDG_CONFIG_HOME%/vivaldi/Default/Secure Preferences
%XDG_CONFIG_HOME%/vivaldi/Default/History
%XDG_CONFIG_HOME%/vivaldi/Default/Favicons
%XDG_CONFIG_HOME%/vivaldi/Default/Web Data
%XDG_CONFIG_HOME%/vivaldi/Default/Extensions
%HOME%/.var/app/com.vivaldi.Vivaldi/config/vivaldi/Local State
%HOME%/.var/app/com.vivaldi.Vivaldi/config/vivaldi/Default/Bookmarks
%HOME%/.var/app/com.vivaldi.Vivaldi/config/vivaldi/Default/Preferences
%HOME%/.var/app/com.vivaldi.Vivaldi/config/vivaldi/Default/Secure Preferences
%HOME%/.var/app/com.vivaldi.Vivaldi/config/vivaldi/Default/History
%HOME%/.var/app/com.vivaldi.Vivaldi/config/vivaldi/Default/Favicons
%HOME%/.var/app/com.vivaldi.Vivaldi/config/vivaldi/Default/Web Data
%HOME%/.var/app/com.vivaldi.Vivaldi/config/vivaldi/Default/Extensions

Opera
%XDG_CONFIG_HOME%/opera/Local State
%XDG_CONFIG_HOME%/opera/Default/Bookmarks
%XDG_CONFIG_HOME%/opera/Default/Preferences
%XDG_CONFIG_HOME%/opera/Default/Secure Preferences
%XDG_CONFIG_HOME%/opera/Default/History
%XDG_CONFIG_HOME%/opera/Default/Favicons
%XDG_CONFIG_HOME%/opera/Default/Web Data
%XDG_CONFIG_HOME%/opera/Default/Extensions

Microsoft Edge
%XDG_CONFIG_HOME%/microsoft-edge/Local State
%XDG_CONFIG_HOME%/microsoft-edge/Default/Bookmarks
%XDG_CONFIG_HOME%/microsoft-edge/Default/Preferences
%XDG_CONFIG_HOME%/microsoft-edge/Default/Secure Preferences
%XDG_CONFIG_HOME%/microsoft-edge/Default/History
%XDG_CONFIG_HOME%/microsoft-edge/Default/Favicons
%XDG_CONFIG_HOME%/microsoft-edge/Default/Web Data
%XDG_CONFIG_HOME%/microsoft-edge/Default/Extensions
%HOME%/.var/app/com.microsoft.Edge/config/microsoft-edge/Local State
%HOME%/.var/app/com.microsoft.Edge/config/microsoft-edge/Default/Bookmarks
%HOME%/.var/app/com.microsoft.Edge/config/microsoft-edge/Default/Preferences
%HOME%/.var/app/com.microsoft.Edge/config/microsoft-edge/Default/Secure Preferences
%HOME%/.var/app/com.microsoft.Edge/config/microsoft-edge/Default/History
%HOME%/.var/app/com.microsoft.Edge/config/microsoft-edge/Default/Favicons
%HOME%/.var/app/com.microsoft.Edge/config/microsoft-edge/Default/Web Data
%HOME%/.var/app/com.microsoft.Edge/config/microsoft-edge/Default/Extensions

GNOME Web
%XDG_DATA_HOME%/epiphany
%XDG_CONFIG_HOME%/epiphany
%HOME%/.var/app/org.gnome.Epiphany/data/epiphany
%HOME%/.var/app/org.gnome.Epiphany/config/epiphany
HKEY_CURRENT_USER/org/gnome/epiphany

LibreWolf
%HOME%/.librewolf
%HOME%/.var/app/io.gitlab.librewolf-community/.librewolf

Falkon
%XDG_CONFIG_HOME%/falkon
%HOME%/.var/app/org.kde.falkon/config/falkon
