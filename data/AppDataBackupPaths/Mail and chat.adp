Thunderbird
%HOME%/.thunderbird
%HOME%/.var/app/org.mozilla.Thunderbird/.thunderbird

Evolution
%XDG_CONFIG_HOME%/evolution
%XDG_DATA_HOME%/evolution
%HOME%/.var/app/org.gnome.Evolution/config/evolution
%HOME%/.var/app/org.gnome.Evolution/data/evolution
HKEY_CURRENT_USER/org/gnome/evolution
HKEY_CURRENT_USER/org/gnome/evolution-data-server

Geary
%XDG_CONFIG_HOME%/geary
%XDG_DATA_HOME%/geary
%HOME%/.var/app/org.gnome.Geary/config/geary
%HOME%/.var/app/org.gnome.Geary/data/geary
HKEY_CURRENT_USER/org/gnome/Geary

KMail
%XDG_CONFIG_HOME%/kmail2rc
%XDG_CONFIG_HOME%/emailidentities
%XDG_CONFIG_HOME%/mailtransports
%XDG_DATA_HOME%/local-mail

Claws Mail
%HOME%/.claws-mail
%HOME%/.var/app/org.claws_mail.Claws-Mail/.claws-mail

Pidgin
%HOME%/.purple
%HOME%/.var/app/im.pidgin.Pidgin/.purple

HexChat
%XDG_CONFIG_HOME%/hexchat
%HOME%/.var/app/io.github.Hexchat/config/hexchat

Konversation
%XDG_CONFIG_HOME%/konversationrc
%XDG_DATA_HOME%/konversation

Discord
%XDG_CONFIG_HOME%/discord/settings.json
%HOME%/.var/app/com.discordapp.Discord/config/discord/settings.json

Mutt
%HOME%/.muttrc
%XDG_CONFIG_HOME%/mutt

Gajim
%XDG_CONFIG_HOME%/gajim
%XDG_DATA_HOME%/gajim
%HOME%/.var/app/org.gajim.Gajim/config/gajim
%HOME%/.var/app/org.gajim.Gajim/data/gajim
