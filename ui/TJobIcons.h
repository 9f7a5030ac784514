#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// The program's own pictures, drawn rather than shipped: the job icons by kind and backup type
// (TJob::IconName), the icons of the card links, and the program's icon.
class TJobIcons {
public:
    enum TLinkIcon { liBackup, liRestore, liPause, liResume, liCancel };

    // "job-incremental", "job-differential", "job-full", "job-mirror", "job-driveimage",
    // "job-appdata"; any other name gets a plain job icon.
    static QPixmap Job(const QString& iconName, int size, qreal devicePixelRatio = 1.0);
    static QPixmap Link(TLinkIcon icon, int size, qreal devicePixelRatio = 1.0);
    static QIcon Application();

    // The desktop icon theme's icon named name (a freedesktop name such as "document-new"); where
    // the theme has none, the program's own picture of that name.
    static QIcon Themed(const QString& name);
    // Makes the program's pictures the icon theme's fallback (once; Themed calls it).
    static void InstallFallbackTheme();
    static constexpr const char* FallbackThemeName = "vaultora-fallback";
};
