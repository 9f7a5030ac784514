#pragma once

#include "platform/TElevation.h"

// Elevation through polkit's pkexec: the desktop asks for an administrator's password.
class TPkexecElevation : public TElevation {
public:
    bool CanAccess(const QString& path, bool write) const override;
    void Elevate(QString& program, QStringList& args) const override;
};
