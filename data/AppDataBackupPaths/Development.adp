Visual Studio Code
%XDG_CONFIG_HOME%/Code/User
%HOME%/.vscode/extensions
%HOME%/.var/app/com.visualstudio.code/config/Code/User
%HOME%/.var/app/com.visualstudio.code/.vscode/extensions

VSCodium
%XDG_CONFIG_HOME%/VSCodium/User
%HOME%/.vscode-oss/extensions
%HOME%/.var/app/com.vscodium.codium/config/VSCodium/User
%HOME%/.var/app/com.vscodium.codium/.vscode-oss/extensions

Git
%HOME%/.gitconfig
%XDG_CONFIG_HOME%/git/config
%XDG_CONFIG_HOME%/git/ignore
%XDG_CONFIG_HOME%/git/attributes

Vim
%HOME%/.vimrc
%HOME%/.vim

Neovim
%XDG_CONFIG_HOME%/nvim

Emacs
%HOME%/.emacs
%HOME%/.emacs.d
%XDG_CONFIG_HOME%/emacs

JetBrains IDEs
%XDG_CONFIG_HOME%/JetBrains

Geany
%XDG_CONFIG_HOME%/geany
%HOME%/.var/app/org.geany.Geany/config/geany

Kate
%XDG_CONFIG_HOME%/katerc
%XDG_CONFIG_HOME%/kateschemarc
%XDG_DATA_HOME%/kate
%HOME%/.var/app/org.kde.kate/config/katerc
%HOME%/.var/app/org.kde.kate/data/kate

Sublime Text
%XDG_CONFIG_HOME%/sublime-text/Packages/User
%HOME%/.var/app/com.sublimetext.three/config/sublime-text/Packages/User

Qt Creator
%XDG_CONFIG_HOME%/QtProject/QtCreator.ini
%XDG_CONFIG_HOME%/QtProject/qtcreator
%HOME%/.var/app/io.qt.QtCreator/config/QtProject/QtCreator.ini
%HOME%/.var/app/io.qt.QtCreator/config/QtProject/qtcreator

GNOME Builder
HKEY_CURRENT_USER/org/gnome/builder
