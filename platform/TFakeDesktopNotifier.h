#pragma once

#include "platform/TDesktopNotifier.h"

#include <QList>
#include <QPair>

// Records the messages instead of showing them.
class TFakeDesktopNotifier : public TDesktopNotifier {
public:
    QList<QPair<QString, QString>> Shown; // (summary, body), in order

    void Notify(const QString& summary, const QString& body) override { Shown.append({summary, body}); }
};
