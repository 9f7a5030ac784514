#include "ui/PickCloudPath.h"

#include "ui/TInputBox.h"
#include "ui/UiTr.h"

QString PickCloudPath(QWidget* parent, TCloudService service, const QString& currentPath) {
    // Until the Cloud Client can pick a folder, the user types the path.
    QString path = currentPath;
    if (!TInputBox::GetText(parent, Tr(u"Cloud Client") + QStringLiteral(" - ") + CloudServiceName(service),
                            Tr(u"Subfolder:"), path))
        return {};
    path = path.trimmed();
    return path.isEmpty() ? QStringLiteral("/") : path;
}
