Steam
%STEAM%/userdata

Minecraft
%HOME%/.minecraft/saves
%HOME%/.minecraft/options.txt
%HOME%/.minecraft/screenshots
%HOME%/.var/app/com.mojang.Minecraft/.minecraft/saves
%HOME%/.var/app/com.mojang.Minecraft/.minecraft/options.txt

Prism Launcher
%XDG_DATA_HOME%/PrismLauncher/instances
%XDG_DATA_HOME%/PrismLauncher/prismlauncher.cfg
%HOME%/.var/app/org.prismlauncher.PrismLauncher/data/PrismLauncher/instances
%HOME%/.var/app/org.prismlauncher.PrismLauncher/data/PrismLauncher/prismlauncher.cfg

Lutris
%XDG_CONFIG_HOME%/lutris
%XDG_DATA_HOME%/lutris/pga.db
%HOME%/.var/app/net.lutris.Lutris/config/lutris
%HOME%/.var/app/net.lutris.Lutris/data/lutris/pga.db

Heroic Games Launcher
%XDG_CONFIG_HOME%/heroic/config.json
%XDG_CONFIG_HOME%/heroic/GamesConfig
%HOME%/.var/app/com.heroicgameslauncher.hgl/config/heroic/config.json
%HOME%/.var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig

RetroArch
%XDG_CONFIG_HOME%/retroarch/retroarch.cfg
%XDG_CONFIG_HOME%/retroarch/saves
%XDG_CONFIG_HOME%/retroarch/states
%XDG_CONFIG_HOME%/retroarch/config
%HOME%/.var/app/org.libretro.RetroArch/config/retroarch/retroarch.cfg
%HOME%/.var/app/org.libretro.RetroArch/config/retroarch/saves
%HOME%/.var/app/org.libretro.RetroArch/config/retroarch/states

Dolphin Emulator
%XDG_CONFIG_HOME%/dolphin-emu
%XDG_DATA_HOME%/dolphin-emu/GC
%XDG_DATA_HOME%/dolphin-emu/Wii
%XDG_DATA_HOME%/dolphin-emu/StateSaves
%HOME%/.var/app/org.DolphinEmu.dolphin-emu/config/dolphin-emu
%HOME%/.var/app/org.DolphinEmu.dolphin-emu/data/dolphin-emu/GC
%HOME%/.var/app/org.DolphinEmu.dolphin-emu/data/dolphin-emu/Wii

PCSX2
%XDG_CONFIG_HOME%/PCSX2/inis
%XDG_CONFIG_HOME%/PCSX2/memcards
%XDG_CONFIG_HOME%/PCSX2/sstates
%HOME%/.var/app/net.pcsx2.PCSX2/config/PCSX2/inis
%HOME%/.var/app/net.pcsx2.PCSX2/config/PCSX2/memcards
%HOME%/.var/app/net.pcsx2.PCSX2/config/PCSX2/sstates

Stardew Valley
%XDG_CONFIG_HOME%/StardewValley

Terraria
%XDG_DATA_HOME%/Terraria/Players
%XDG_DATA_HOME%/Terraria/Worlds
%XDG_DATA_HOME%/Terraria/config.json

Factorio
%HOME%/.factorio/saves
%HOME%/.factorio/config
%HOME%/.factorio/mods

Counter-Strike 2
%STEAM_CLOUD%/730/local/cfg

SuperTuxKart
%XDG_CONFIG_HOME%/supertuxkart
%HOME%/.var/app/net.supertuxkart.SuperTuxKart/config/supertuxkart

0 A.D.
%XDG_CONFIG_HOME%/0ad
%XDG_DATA_HOME%/0ad/saves
%HOME%/.var/app/com.play0ad.zeroad/config/0ad
%HOME%/.var/app/com.play0ad.zeroad/data/0ad/saves

Luanti
%HOME%/.minetest/worlds
%HOME%/.minetest/minetest.conf
%HOME%/.var/app/net.minetest.Minetest/.minetest/worlds
%HOME%/.var/app/net.minetest.Minetest/.minetest/minetest.conf

The Battle for Wesnoth
%XDG_CONFIG_HOME%/wesnoth
%XDG_DATA_HOME%/wesnoth
%HOME%/.var/app/org.wesnoth.Wesnoth/config/wesnoth
%HOME%/.var/app/org.wesnoth.Wesnoth/data/wesnoth
