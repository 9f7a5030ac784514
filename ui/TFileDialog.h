#pragma once

#include <QString>

class QWidget;

// The folder chooser and the save dialog of the windows. An empty result means cancelled.
//
// Tests cannot click a modal file dialog: with SetHeadless(true) no dialog is shown and each call
// returns the next queued name (SetNextFileName), or an empty text when none is queued.
class TFileDialog {
public:
    static QString GetExistingDirectory(QWidget* parent, const QString& caption, const QString& directory);
    // filter in Qt's form, for example "Text Files (*.txt)".
    static QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& path, const QString& filter);
    static QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& directory,
                                   const QString& filter = QString());

    // ---- Test seam ----
    static void SetHeadless(bool on);
    static void SetNextFileName(const QString& name);
    // The captions of the dialogs asked for since the last call.
    static QStringList TakeCaptions();
};
