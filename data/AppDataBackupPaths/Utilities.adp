KeePassXC
%XDG_CONFIG_HOME%/keepassxc/keepassxc.ini
%HOME%/.var/app/org.keepassxc.KeePassXC/config/keepassxc/keepassxc.ini

Bash
%HOME%/.bashrc
%HOME%/.bash_aliases
%HOME%/.profile
%HOME%/.inputrc

Zsh
%HOME%/.zshrc
%HOME%/.zprofile
%HOME%/.oh-my-zsh/custom

Fish
%XDG_CONFIG_HOME%/fish

tmux
%HOME%/.tmux.conf
%XDG_CONFIG_HOME%/tmux

Syncthing
%XDG_STATE_HOME%/syncthing/config.xml
%XDG_STATE_HOME%/syncthing/cert.pem
%XDG_STATE_HOME%/syncthing/key.pem
%XDG_CONFIG_HOME%/syncthing/config.xml
%XDG_CONFIG_HOME%/syncthing/cert.pem
%XDG_CONFIG_HOME%/syncthing/key.pem

Transmission
%XDG_CONFIG_HOME%/transmission
%HOME%/.var/app/com.transmissionbt.Transmission/config/transmission

qBittorrent
%XDG_CONFIG_HOME%/qBittorrent
%XDG_DATA_HOME%/qBittorrent/BT_backup
%HOME%/.var/app/org.qbittorrent.qBittorrent/config/qBittorrent
%HOME%/.var/app/org.qbittorrent.qBittorrent/data/qBittorrent/BT_backup

FileZilla
%XDG_CONFIG_HOME%/filezilla
%HOME%/.var/app/org.filezillaproject.Filezilla/config/filezilla

Remmina
%XDG_DATA_HOME%/remmina
%XDG_CONFIG_HOME%/remmina
%HOME%/.var/app/org.remmina.Remmina/data/remmina
%HOME%/.var/app/org.remmina.Remmina/config/remmina

Dolphin
%XDG_CONFIG_HOME%/dolphinrc
%XDG_DATA_HOME%/dolphin
%XDG_DATA_HOME%/user-places.xbel

Konsole
%XDG_CONFIG_HOME%/konsolerc
%XDG_DATA_HOME%/konsole

Flameshot
%XDG_CONFIG_HOME%/flameshot
%HOME%/.var/app/org.flameshot.Flameshot/config/flameshot

Nextcloud
%XDG_CONFIG_HOME%/Nextcloud/nextcloud.cfg
%HOME%/.var/app/com.nextcloud.desktopclient.nextcloud/config/Nextcloud/nextcloud.cfg

gedit
%XDG_DATA_HOME%/gedit
%HOME%/.var/app/org.gnome.gedit/data/gedit
HKEY_CURRENT_USER/org/gnome/gedit
