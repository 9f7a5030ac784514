#include "ui/TNotificationArea.h"

#include "ui/TJobIcons.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

TNotificationArea::TNotificationArea(QAction* open, QAction* quit, QWidget* window)
    : QObject(window)
    , m_icon(new QSystemTrayIcon(TJobIcons::Application(), window))
    , m_menu(new QMenu(window)) {
    m_menu->addActions({open, quit});
    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            Q_EMIT OpenRequested();
    });
    ShowWhenAvailable();
}

bool TNotificationArea::Visible() const {
    return m_icon->isVisible();
}

void TNotificationArea::ShowWhenAvailable() {
    if (!m_icon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable())
        m_icon->show();
}

void TNotificationArea::Hide() {
    m_icon->hide();
}

void TNotificationArea::SetToolTip(const QString& text) {
    m_icon->setToolTip(text);
}
