#include "cloud/TCloudDrive.h"

void TCloudDrive::SetRefreshToken(const QString& token) {
    if (token == FRefreshToken)
        return;
    FRefreshToken = token;
    FAccessToken.clear();
}

bool TCloudDrive::Fail(const QString& text) {
    FError = text;
    return false;
}
