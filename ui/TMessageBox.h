#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

// The program's message box: four kinds with translated titles ("Warning", "Error",
// "Information", "Confirm") and translated buttons.
//
// Tests cannot click a modal box: with SetHeadless(true) no box is shown, each box takes the next
// queued answer (SetNextAnswer; boxes with only OK take none), or its default when none is queued
// (Cancel or No for questions), and is recorded for TakeShown().
class TMessageBox {
public:
    enum TKind { mbWarning, mbError, mbInformation, mbConfirmation };

    static QMessageBox::StandardButton Show(QWidget* parent, TKind kind, const QString& text,
                                            QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    static void Warning(QWidget* parent, const QString& text);
    static void Error(QWidget* parent, const QString& text);
    static void Information(QWidget* parent, const QString& text);
    // A confirmation with Yes and No; true for Yes. A destructive one has No as its default, so
    // that Enter never destroys anything.
    enum TQuestion { qtPlain, qtDestructive };
    static bool AskYesNo(QWidget* parent, const QString& text, TQuestion question = qtPlain);
    // OK and Cancel in a box of the given kind; true for OK.
    static bool AskOkCancel(QWidget* parent, TKind kind, const QString& text);

    static QString Title(TKind kind);

    // ---- Test seam ----
    struct TShown {
        TKind Kind = mbInformation;
        QString Title;
        QString Text;
        QMessageBox::StandardButton DefaultButton = QMessageBox::NoButton;
    };
    static void SetHeadless(bool on);
    static void SetNextAnswer(QMessageBox::StandardButton answer);
    static QList<TShown> TakeShown();
};
