#pragma once

#include "platform/TElevation.h"

#include <QSet>

// Pretends the paths in Denied need root, and runs "elevated" commands through Wrapper (a test
// script that notes the call and runs the command as it is) instead of asking for a password.
class TFakeElevation : public TElevation {
public:
    QSet<QString> Denied;
    QString Wrapper;
    mutable int Elevations = 0;

    bool CanAccess(const QString& path, bool) const override { return !Denied.contains(path); }
    void Elevate(QString& program, QStringList& args) const override {
        ++Elevations;
        args.prepend(program);
        program = Wrapper;
    }
};
