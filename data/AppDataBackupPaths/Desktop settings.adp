GNOME
%XDG_CONFIG_HOME%/monitors.xml
%XDG_CONFIG_HOME%/gtk-3.0
%XDG_CONFIG_HOME%/gtk-4.0
%XDG_DATA_HOME%/gnome-shell/extensions
%XDG_CONFIG_HOME%/autostart
HKEY_CURRENT_USER/org/gnome/desktop
HKEY_CURRENT_USER/org/gnome/shell
HKEY_CURRENT_USER/org/gnome/mutter
HKEY_CURRENT_USER/org/gnome/settings-daemon

GNOME Terminal
HKEY_CURRENT_USER/org/gnome/terminal

GNOME Files
HKEY_CURRENT_USER/org/gnome/nautilus

Cinnamon
%HOME%/.cinnamon/configs
%XDG_DATA_HOME%/cinnamon
HKEY_CURRENT_USER/org/cinnamon
HKEY_CURRENT_USER/org/nemo

MATE
%XDG_CONFIG_HOME%/caja
HKEY_CURRENT_USER/org/mate

KDE Plasma
%XDG_CONFIG_HOME%/kdeglobals
%XDG_CONFIG_HOME%/plasmarc
%XDG_CONFIG_HOME%/plasmashellrc
%XDG_CONFIG_HOME%/plasma-org.kde.plasma.desktop-appletsrc
%XDG_CONFIG_HOME%/kwinrc
%XDG_CONFIG_HOME%/kglobalshortcutsrc
%XDG_CONFIG_HOME%/khotkeysrc
%XDG_CONFIG_HOME%/kscreenlockerrc
%XDG_CONFIG_HOME%/ksmserverrc
%XDG_CONFIG_HOME%/kcminputrc
%XDG_CONFIG_HOME%/kxkbrc
%XDG_CONFIG_HOME%/powermanagementprofilesrc
%XDG_DATA_HOME%/plasma
%XDG_DATA_HOME%/color-schemes
%XDG_DATA_HOME%/kxmlgui5

Xfce
%XDG_CONFIG_HOME%/xfce4
%XDG_CONFIG_HOME%/Thunar

LXQt
%XDG_CONFIG_HOME%/lxqt
%XDG_CONFIG_HOME%/pcmanfm-qt
%XDG_CONFIG_HOME%/openbox

Budgie
HKEY_CURRENT_USER/com/solus-project/budgie-panel
HKEY_CURRENT_USER/com/solus-project/budgie-wm
