#pragma once

#include <QFont>
#include <QList>

class QWidget;

// The font chooser. Tests cannot click it: with SetHeadless(true) no dialog is shown and each
// call takes the next queued font (SetNextFont), or counts as cancelled when none is queued.
class TFontDialog {
public:
    // False when cancelled; font holds the preset on entry and the choice on return.
    static bool GetFont(QWidget* parent, const QString& caption, QFont& font);

    // ---- Test seam ----
    static void SetHeadless(bool on);
    static void SetNextFont(const QFont& font);
};
