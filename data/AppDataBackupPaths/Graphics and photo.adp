GIMP
%XDG_CONFIG_HOME%/GIMP
%HOME%/.var/app/org.gimp.GIMP/config/GIMP

Inkscape
%XDG_CONFIG_HOME%/inkscape
%HOME%/.var/app/org.inkscape.Inkscape/config/inkscape

Krita
%XDG_CONFIG_HOME%/kritarc
%XDG_CONFIG_HOME%/kritadisplayrc
%XDG_DATA_HOME%/krita
%HOME%/.var/app/org.kde.krita/config/kritarc
%HOME%/.var/app/org.kde.krita/data/krita

darktable
%XDG_CONFIG_HOME%/darktable
%HOME%/.var/app/org.darktable.Darktable/config/darktable

RawTherapee
%XDG_CONFIG_HOME%/RawTherapee
%HOME%/.var/app/com.rawtherapee.RawTherapee/config/RawTherapee

digiKam
%XDG_CONFIG_HOME%/digikamrc
%XDG_DATA_HOME%/digikam
%HOME%/.var/app/org.kde.digikam/config/digikamrc
%HOME%/.var/app/org.kde.digikam/data/digikam

Shotwell
%XDG_DATA_HOME%/shotwell
%HOME%/.var/app/org.gnome.Shotwell/data/shotwell
HKEY_CURRENT_USER/org/yorba/shotwell

Blender
%XDG_CONFIG_HOME%/blender
%HOME%/.var/app/org.blender.Blender/config/blender

Scribus
%XDG_CONFIG_HOME%/scribus
%HOME%/.var/app/net.scribus.Scribus/config/scribus

Gwenview
%XDG_CONFIG_HOME%/gwenviewrc
%XDG_DATA_HOME%/gwenview

FreeCAD
%XDG_CONFIG_HOME%/FreeCAD
%XDG_DATA_HOME%/FreeCAD
%HOME%/.FreeCAD
%HOME%/.var/app/org.freecad.FreeCAD/config/FreeCAD
%HOME%/.var/app/org.freecad.FreeCAD/data/FreeCAD
