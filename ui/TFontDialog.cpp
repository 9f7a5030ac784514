#include "ui/TFontDialog.h"

#include <QFontDialog>

namespace {

struct TSeam {
    bool Headless = false;
    QList<QFont> Fonts;
};

TSeam& Seam() {
    static TSeam seam;
    return seam;
}

} // namespace

bool TFontDialog::GetFont(QWidget* parent, const QString& caption, QFont& font) {
    TSeam& seam = Seam();
    if (seam.Headless) {
        if (seam.Fonts.isEmpty())
            return false;
        font = seam.Fonts.takeFirst();
        return true;
    }
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, font, parent, caption);
    if (ok)
        font = chosen;
    return ok;
}

void TFontDialog::SetHeadless(bool on) {
    Seam() = TSeam();
    Seam().Headless = on;
}

void TFontDialog::SetNextFont(const QFont& font) {
    Seam().Fonts.append(font);
}
