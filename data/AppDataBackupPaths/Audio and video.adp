VLC
%XDG_CONFIG_HOME%/vlc
%HOME%/.var/app/org.videolan.VLC/config/vlc

mpv
%XDG_CONFIG_HOME%/mpv
%HOME%/.var/app/io.mpv.Mpv/config/mpv

Audacity
%XDG_CONFIG_HOME%/audacity
%HOME%/.audacity-data
%HOME%/.var/app/org.audacityteam.Audacity/config/audacity

OBS Studio
%XDG_CONFIG_HOME%/obs-studio
%HOME%/.var/app/com.obsproject.Studio/config/obs-studio

Kdenlive
%XDG_CONFIG_HOME%/kdenliverc
%XDG_DATA_HOME%/kdenlive
%HOME%/.var/app/org.kde.kdenlive/config/kdenliverc
%HOME%/.var/app/org.kde.kdenlive/data/kdenlive

Rhythmbox
%XDG_DATA_HOME%/rhythmbox
%HOME%/.var/app/org.gnome.Rhythmbox3/data/rhythmbox
HKEY_CURRENT_USER/org/gnome/rhythmbox

Strawberry
%XDG_CONFIG_HOME%/strawberry
%XDG_DATA_HOME%/strawberry
%HOME%/.var/app/org.strawberrymusicplayer.strawberry/config/strawberry
%HOME%/.var/app/org.strawberrymusicplayer.strawberry/data/strawberry

Spotify
%XDG_CONFIG_HOME%/spotify/prefs
%XDG_CONFIG_HOME%/spotify/Users
%HOME%/.var/app/com.spotify.Client/config/spotify/prefs
%HOME%/.var/app/com.spotify.Client/config/spotify/Users

HandBrake
%XDG_CONFIG_HOME%/ghb
%HOME%/.var/app/fr.handbrake.ghb/config/ghb

Shotcut
%XDG_CONFIG_HOME%/Meltytech
%HOME%/.var/app/org.shotcut.Shotcut/config/Meltytech

Lollypop
%XDG_DATA_HOME%/lollypop
%HOME%/.var/app/org.gnome.Lollypop/data/lollypop
HKEY_CURRENT_USER/org/gnome/Lollypop
