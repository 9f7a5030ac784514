#pragma once

#include <QProxyStyle>

// The desktop's own style with one change: dialog buttons are plain text, without the tick and
// cross pictures some platform themes add.
class TDesktopStyle : public QProxyStyle {
    Q_OBJECT
public:
    TDesktopStyle() = default;

    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};
