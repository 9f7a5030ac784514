#include "ui/TFileDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

namespace {

struct TSeam {
    bool Headless = false;
    QStringList Names;
    QStringList Captions;
};

TSeam& Seam() {
    static TSeam seam;
    return seam;
}

bool Answered(const QString& caption, QString& name) {
    TSeam& seam = Seam();
    if (!seam.Headless)
        return false;
    seam.Captions.append(caption);
    name = seam.Names.isEmpty() ? QString() : seam.Names.takeFirst();
    return true;
}

} // namespace

QString TFileDialog::GetExistingDirectory(QWidget* parent, const QString& caption, const QString& directory) {
    QString name;
    if (Answered(caption, name))
        return name;
    for (;;) {
        name = QFileDialog::getExistingDirectory(parent, caption, directory, QFileDialog::ShowDirsOnly);
        // Only an existing folder is an answer; a typed path that is none asks again.
        if (name.isEmpty() || QFileInfo(name).isDir())
            return name;
    }
}

QString TFileDialog::GetSaveFileName(QWidget* parent, const QString& caption, const QString& path,
                                     const QString& filter) {
    QString name;
    if (Answered(caption, name))
        return name;
    return QFileDialog::getSaveFileName(parent, caption, path, filter);
}

QString TFileDialog::GetOpenFileName(QWidget* parent, const QString& caption, const QString& directory,
                                     const QString& filter) {
    QString name;
    if (Answered(caption, name))
        return name;
    return QFileDialog::getOpenFileName(parent, caption, directory, filter);
}

void TFileDialog::SetHeadless(bool on) {
    Seam() = TSeam();
    Seam().Headless = on;
}

void TFileDialog::SetNextFileName(const QString& name) {
    Seam().Names.append(name);
}

QStringList TFileDialog::TakeCaptions() {
    return std::exchange(Seam().Captions, {});
}
