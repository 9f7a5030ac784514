#pragma once

#include <QString>
#include <QStringList>

// Runs a helper program with administrator rights when the user's own are not enough (reading a
// disk, deleting images written as root). Only the helper is elevated; the program never relaunches
// itself as root.
class TElevation {
public:
    virtual ~TElevation() = default;
    // Whether this process may read (write = false) or change (write = true) path with its own rights.
    virtual bool CanAccess(const QString& path, bool write) const = 0;
    // Turns program and args into the command that runs them as root after asking the user.
    virtual void Elevate(QString& program, QStringList& args) const = 0;
};
