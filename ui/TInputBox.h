#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// A one-line input box with translated OK and Cancel; the password form masks what is typed.
//
// Tests cannot type into a modal box: with SetHeadless(true) no box is shown and each call takes
// the next queued answer (SetNextAnswer), or counts as cancelled when none is queued.
class TInputBox {
public:
    // False when cancelled; value holds the default on entry and the typed text on return.
    static bool GetText(QWidget* parent, const QString& caption, const QString& prompt, QString& value,
                        bool password = false);

    // ---- Test seam ----
    static void SetHeadless(bool on);
    static void SetNextAnswer(const QString& text, bool accepted = true);
    // The prompts asked since the last call.
    static QStringList TakePrompts();
};
