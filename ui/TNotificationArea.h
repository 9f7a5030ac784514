#pragma once

#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

// The program's icon in the desktop's notification area: its menu holds the window's Open and
// Quit actions, and a click or double click on it asks for the window.
class TNotificationArea : public QObject {
    Q_OBJECT
public:
    TNotificationArea(QAction* open, QAction* quit, QWidget* window);

    QSystemTrayIcon* Icon() const { return m_icon; }
    bool Visible() const;
    // Shows the icon when the desktop has a notification area; started at logon, the program may
    // come up before it, so the window asks again on every tick.
    void ShowWhenAvailable();
    void Hide();
    void SetToolTip(const QString& text);

Q_SIGNALS:
    void OpenRequested();

private:
    QSystemTrayIcon* m_icon;
    QMenu* m_menu;
};
