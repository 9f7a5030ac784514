#pragma once

#include <QString>

#include <functional>

// Shows a short message in the desktop's notification area (a pop-up that goes away by itself).
// Notify is a request: when the desktop offers no notification service, nothing is shown and the
// caller is never held up; OnFailure, when set, learns why (on the interface thread).
class TDesktopNotifier {
public:
    virtual ~TDesktopNotifier() = default;
    virtual void Notify(const QString& summary, const QString& body) = 0;

    std::function<void(const QString& why)> OnFailure;
};
