#include "ui/PickCloudPath.h"

#include "ui/TfrmCloudClient.h"

QString PickCloudPath(QWidget* parent, TCloudService service, const QString& currentPath) {
    // The Cloud Client as a chooser of folders, opened at the folder typed so far.
    return TfrmCloudClient::PickPath(parent, service, currentPath.isEmpty() ? QStringLiteral("/") : currentPath, false);
}
