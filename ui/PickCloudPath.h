#pragma once

#include "cloud/CloudServices.h"

#include <QString>

class QWidget;

// Lets the user choose a folder of the cloud service for a job's destination; currentPath is
// where the choice starts. The chosen "/" path, or an empty text when cancelled. The one place
// the wizards ask for a cloud folder.
QString PickCloudPath(QWidget* parent, TCloudService service, const QString& currentPath);
