#pragma once

#include "cloud/CloudServices.h"

#include <QtGlobal>

class QWidget;
class TCloudDrive;

// Signs the drive's client in where it has no usable token: the browser and the loopback wait,
// or a code the user pastes. The new refresh token is saved to the service's token file. False
// after a cancel (nothing shown) or a failure (a message box says why). The browser comes back
// to the service's registered loopback port unless another is given.
bool SignInToCloud(QWidget* parent, TCloudDrive& drive, quint16 port = 0);

// "Reset Access": the client (when given) forgets its tokens, the service's token file is
// deleted, and the user is told.
void ResetCloudAccess(QWidget* parent, TCloudService service, TCloudDrive* drive = nullptr);
