#pragma once

#include "platform/TAutostart.h"

// The XDG autostart entry "<config folder>/autostart/vaultora.desktop" whose Exec line is the
// quoted executable path followed by " /hide".
class TXdgAutostart : public TAutostart {
public:
    // configDirectory: $XDG_CONFIG_HOME (or ~/.config); executablePath: the windowed program.
    TXdgAutostart(const QString& configDirectory, const QString& executablePath);
    // The user's config folder and the given executable.
    explicit TXdgAutostart(const QString& executablePath);

    TResult SetAutostart(bool on) override;
    bool IsAutostartOn() const override;
    QString Location() const override { return m_folder; }

    QString EntryPath() const;
    // The desktop entry's text for the executable; empty when the path cannot be written in an
    // Exec line (a line break in it).
    static QString EntryText(const QString& executablePath);

private:
    QString m_folder;
    QString m_executablePath;
};
