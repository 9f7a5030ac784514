#include "ui/TInputBox.h"

#include "ui/UiTr.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QList>

namespace {

struct TAnswer {
    QString Text;
    bool Accepted = true;
};

struct TSeam {
    bool Headless = false;
    QList<TAnswer> Answers;
    QStringList Prompts;
};

TSeam& Seam() {
    static TSeam seam;
    return seam;
}

} // namespace

bool TInputBox::GetText(QWidget* parent, const QString& caption, const QString& prompt, QString& value, bool password) {
    TSeam& seam = Seam();
    if (seam.Headless) {
        seam.Prompts.append(prompt);
        if (seam.Answers.isEmpty())
            return false;
        const TAnswer answer = seam.Answers.takeFirst();
        if (answer.Accepted)
            value = answer.Text;
        return answer.Accepted;
    }
    QInputDialog box(parent);
    box.setWindowTitle(caption);
    box.setLabelText(prompt);
    box.setTextValue(password ? QString() : value);
    box.setTextEchoMode(password ? QLineEdit::Password : QLineEdit::Normal);
    box.setOkButtonText(Tr(u"OK"));
    box.setCancelButtonText(Tr(u"Cancel"));
    if (box.exec() != QDialog::Accepted)
        return false;
    value = box.textValue();
    return true;
}

void TInputBox::SetHeadless(bool on) {
    Seam() = TSeam();
    Seam().Headless = on;
}

void TInputBox::SetNextAnswer(const QString& text, bool accepted) {
    Seam().Answers.append({text, accepted});
}

QStringList TInputBox::TakePrompts() {
    return std::exchange(Seam().Prompts, {});
}
