#include "ui/TMessageBox.h"

#include "ui/UiTr.h"

#include <QAbstractButton>
#include <QApplication>

namespace {

struct TSeam {
    bool Headless = false;
    QList<QMessageBox::StandardButton> Answers;
    QList<TMessageBox::TShown> Shown;
};

TSeam& Seam() {
    static TSeam seam;
    return seam;
}

QMessageBox::Icon IconOf(TMessageBox::TKind kind) {
    switch (kind) {
    case TMessageBox::mbWarning:
        return QMessageBox::Warning;
    case TMessageBox::mbError:
        return QMessageBox::Critical;
    case TMessageBox::mbInformation:
        return QMessageBox::Information;
    case TMessageBox::mbConfirmation:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// What an unanswered box gives: the safe answer of a question.
QMessageBox::StandardButton HeadlessDefault(QMessageBox::StandardButtons buttons) {
    for (QMessageBox::StandardButton button : {QMessageBox::Cancel, QMessageBox::No, QMessageBox::Ok})
        if (buttons.testFlag(button))
            return button;
    return QMessageBox::NoButton;
}

} // namespace

QString TMessageBox::Title(TKind kind) {
    switch (kind) {
    case mbWarning:
        return Tr(u"Warning");
    case mbError:
        return Tr(u"Error");
    case mbInformation:
        return Tr(u"Information");
    case mbConfirmation:
        return Tr(u"Confirm");
    }
    return {};
}

QMessageBox::StandardButton TMessageBox::Show(QWidget* parent, TKind kind, const QString& text,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton) {
    TSeam& seam = Seam();
    if (seam.Headless) {
        seam.Shown.append({kind, Title(kind), text, defaultButton});
        // A box with one button asks nothing: the queued answers are for the questions.
        const bool question = buttons != QMessageBox::Ok;
        if (question && !seam.Answers.isEmpty())
            return seam.Answers.takeFirst();
        return HeadlessDefault(buttons);
    }
    QMessageBox box(IconOf(kind), Title(kind), text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    const std::pair<QMessageBox::StandardButton, QString> captions[] = {{QMessageBox::Ok, Tr(u"OK")},
                                                                        {QMessageBox::Cancel, Tr(u"Cancel")},
                                                                        {QMessageBox::Yes, Tr(u"Yes")},
                                                                        {QMessageBox::No, Tr(u"No")}};
    for (const auto& [button, caption] : captions)
        if (QAbstractButton* widget = box.button(button))
            widget->setText(caption);
    // A box over a hidden window would otherwise appear without a visible owner.
    box.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    return QMessageBox::StandardButton(box.exec());
}

void TMessageBox::Warning(QWidget* parent, const QString& text) {
    Show(parent, mbWarning, text);
}

void TMessageBox::Error(QWidget* parent, const QString& text) {
    Show(parent, mbError, text);
}

void TMessageBox::Information(QWidget* parent, const QString& text) {
    Show(parent, mbInformation, text);
}

bool TMessageBox::AskYesNo(QWidget* parent, const QString& text, TQuestion question) {
    const QMessageBox::StandardButton preset = question == qtDestructive ? QMessageBox::No : QMessageBox::Yes;
    return Show(parent, mbConfirmation, text, QMessageBox::Yes | QMessageBox::No, preset) == QMessageBox::Yes;
}

bool TMessageBox::AskOkCancel(QWidget* parent, TKind kind, const QString& text) {
    return Show(parent, kind, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}

void TMessageBox::SetHeadless(bool on) {
    Seam() = TSeam();
    Seam().Headless = on;
}

void TMessageBox::SetNextAnswer(QMessageBox::StandardButton answer) {
    Seam().Answers.append(answer);
}

QList<TMessageBox::TShown> TMessageBox::TakeShown() {
    return std::exchange(Seam().Shown, {});
}
