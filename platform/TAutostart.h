#pragma once

#include <QString>

// Starting the program at logon, hidden.
class TAutostart {
public:
    enum class TResult {
        Done,
        CannotOpen,  // the place that holds the entry cannot be reached
        WriteFailed, // it can, but the entry could not be written or removed
    };

    virtual ~TAutostart() = default;

    // On: the program starts hidden ("/hide") at logon; off: the entry is removed. Turning off an
    // entry that does not exist succeeds.
    virtual TResult SetAutostart(bool on) = 0;
    virtual bool IsAutostartOn() const = 0;
    // The folder that holds the entry, named in the error box when a change fails.
    virtual QString Location() const = 0;
};
