#include "ui/TJobIcons.h"

#include <QPainter>
#include <QPainterPath>

namespace {

struct TJobLook {
    QColor Colour;
    QChar Letter;
};

TJobLook LookOf(const QString& iconName) {
    if (iconName == QStringLiteral("job-incremental"))
        return {QColor(0x2E, 0x7D, 0xD2), u'I'};
    if (iconName == QStringLiteral("job-differential"))
        return {QColor(0x7B, 0x4F, 0xC9), u'D'};
    if (iconName == QStringLiteral("job-full"))
        return {QColor(0x3C, 0x9A, 0x3C), u'F'};
    if (iconName == QStringLiteral("job-mirror"))
        return {QColor(0x00, 0x8C, 0x8C), u'M'};
    if (iconName == QStringLiteral("job-driveimage"))
        return {QColor(0x5A, 0x67, 0x78), QChar()};
    if (iconName == QStringLiteral("job-appdata"))
        return {QColor(0xD9, 0x77, 0x06), QChar()};
    return {QColor(0x80, 0x80, 0x80), QChar()};
}

QPixmap Canvas(int size, qreal ratio) {
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A disk: a rounded box with a slot and a light, for drive images.
void DrawDrive(QPainter& painter, const QRectF& box) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    const QRectF slot(box.left() + box.width() * 0.2, box.top() + box.height() * 0.55, box.width() * 0.6,
                      box.height() * 0.12);
    painter.drawRoundedRect(slot, slot.height() / 2, slot.height() / 2);
    painter.setBrush(QColor(0x8B, 0xC0, 0x50));
    const qreal light = box.width() * 0.12;
    painter.drawEllipse(QRectF(box.right() - box.width() * 0.25, box.top() + box.height() * 0.28, light, light));
}

// Stacked sheets, for application data.
void DrawSheets(QPainter& painter, const QRectF& box) {
    painter.setPen(QPen(QColor(0xD9, 0x77, 0x06), box.width() * 0.05));
    painter.setBrush(Qt::white);
    const QRectF sheet(box.left() + box.width() * 0.3, box.top() + box.height() * 0.22, box.width() * 0.42,
                       box.height() * 0.52);
    painter.drawRect(sheet.translated(-box.width() * 0.08, box.height() * 0.08));
    painter.drawRect(sheet);
}

} // namespace

QPixmap TJobIcons::Job(const QString& iconName, int size, qreal devicePixelRatio) {
    QPixmap pixmap = Canvas(size, devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const TJobLook look = LookOf(iconName);
    const QRectF box(size * 0.06, size * 0.06, size * 0.88, size * 0.88);
    painter.setPen(Qt::NoPen);
    painter.setBrush(look.Colour);
    painter.drawRoundedRect(box, size * 0.18, size * 0.18);
    if (!look.Letter.isNull()) {
        QFont font;
        font.setBold(true);
        font.setPixelSize(qMax(6, int(size * 0.55)));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, QString(look.Letter));
    } else if (iconName == QStringLiteral("job-driveimage")) {
        DrawDrive(painter, box);
    } else {
        DrawSheets(painter, box);
    }
    return pixmap;
}

QPixmap TJobIcons::Link(TLinkIcon icon, int size, qreal devicePixelRatio) {
    QPixmap pixmap = Canvas(size, devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    painter.setPen(Qt::NoPen);
    switch (icon) {
    case liBackup:
    case liResume: {
        painter.setBrush(icon == liBackup ? QColor(0x3C, 0x9A, 0x3C) : QColor(0x2E, 0x7D, 0xD2));
        QPainterPath triangle;
        triangle.moveTo(s * 0.25, s * 0.15);
        triangle.lineTo(s * 0.85, s * 0.5);
        triangle.lineTo(s * 0.25, s * 0.85);
        triangle.closeSubpath();
        painter.drawPath(triangle);
        break;
    }
    case liRestore: {
        painter.setPen(QPen(QColor(0x2E, 0x7D, 0xD2), s * 0.14, Qt::SolidLine, Qt::RoundCap));
        painter.setBrush(Qt::NoBrush);
        const QRectF ring(s * 0.2, s * 0.2, s * 0.6, s * 0.6);
        painter.drawArc(ring, 90 * 16, 270 * 16);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x2E, 0x7D, 0xD2));
        QPainterPath head;
        head.moveTo(s * 0.5, s * 0.02);
        head.lineTo(s * 0.5, s * 0.38);
        head.lineTo(s * 0.78, s * 0.2);
        head.closeSubpath();
        painter.drawPath(head);
        break;
    }
    case liPause:
        painter.setBrush(QColor(0x5A, 0x67, 0x78));
        painter.drawRect(QRectF(s * 0.22, s * 0.18, s * 0.2, s * 0.64));
        painter.drawRect(QRectF(s * 0.58, s * 0.18, s * 0.2, s * 0.64));
        break;
    case liCancel:
        painter.setBrush(QColor(0xC6, 0x28, 0x28));
        painter.drawRoundedRect(QRectF(s * 0.2, s * 0.2, s * 0.6, s * 0.6), s * 0.08, s * 0.08);
        break;
    }
    return pixmap;
}

QIcon TJobIcons::Application() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap = Canvas(size, 1.0);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal s = size;
        // A vault door: a blue disc, a light rim and a handle with three spokes.
        painter.setPen(QPen(QColor(0xCD, 0xE8, 0xFF), s * 0.06));
        painter.setBrush(QColor(0x1F, 0x5F, 0xA8));
        painter.drawEllipse(QRectF(s * 0.05, s * 0.05, s * 0.9, s * 0.9));
        painter.setPen(QPen(Qt::white, s * 0.08, Qt::SolidLine, Qt::RoundCap));
        const QPointF centre(s * 0.5, s * 0.5);
        for (int spoke = 0; spoke < 3; ++spoke) {
            QLineF line(centre, centre + QPointF(s * 0.28, 0));
            line.setAngle(90 + spoke * 120);
            painter.drawLine(line);
        }
        painter.setBrush(QColor(0x8B, 0xC0, 0x50));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(centre, s * 0.1, s * 0.1);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void TJobIcons::InstallFallbackTheme() {
    static const bool installed = [] {
        QStringList paths = QIcon::themeSearchPaths();
        if (!paths.contains(QStringLiteral(":/icons")))
            paths.append(QStringLiteral(":/icons"));
        QIcon::setThemeSearchPaths(paths);
        QIcon::setFallbackThemeName(QString::fromLatin1(FallbackThemeName));
        // Without a desktop theme at all nothing would be looked up: ours becomes the theme.
        if (QIcon::themeName().isEmpty())
            QIcon::setThemeName(QString::fromLatin1(FallbackThemeName));
        return true;
    }();
    Q_UNUSED(installed);
}

QIcon TJobIcons::Themed(const QString& name) {
    InstallFallbackTheme();
    return QIcon::fromTheme(name);
}
