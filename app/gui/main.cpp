// vaultora: the windowed program.

#include "ui/TDesktopStyle.h"
#include "ui/TJobIcons.h"
#include "ui/TVaultoraProgram.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vaultora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Vaultora"));
    QApplication::setDesktopFileName(QStringLiteral("org.vaultora.Vaultora"));
    QApplication::setWindowIcon(TJobIcons::Application());
    // The desktop's style and icon theme, with the program's pictures where the theme has none.
    QApplication::setStyle(new TDesktopStyle);
    TJobIcons::InstallFallbackTheme();

    int result = 0;
    {
        TVaultoraProgram program;
        result = program.Start(QApplication::arguments().mid(1));
        if (result == TVaultoraProgram::RunEventLoop)
            result = QApplication::exec();
        if (program.JobsAbandoned()) {
            // Cancelled jobs did not end within the wait: the process ends without them.
            std::fflush(nullptr);
            std::_Exit(result);
        }
    }
    return result;
}
