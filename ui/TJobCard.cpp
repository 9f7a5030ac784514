#include "ui/TJobCard.h"

#include "ui/TJobIcons.h"
#include "ui/UiTr.h"

#include "core/base/OleDate.h"
#include "core/model/JobTexts.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int Margin = 10;
constexpr int LinkGap = 14;
constexpr int LinkIconGap = 4;
constexpr int ProgressHeight = 10;

// The operation word of the second line; empty for atNone (the path alone).
QString OperationWord(TFileOperationType type) {
    switch (type) {
    case atCopyFromLocalToRemoteFile:
    case atCopyFromLocalToRemoteFileThroughTempFolder:
    case atCopyFromRemoteToLocalFile:
        return Tr(u"Copying");
    case atRemoveRemoteFile:
    case atRemoveRemoteEmptyFolder:
    case atRemoveRemoteNotEmptyFolder:
        return Tr(u"Removing");
    case atCreateRemoteFolder:
        return Tr(u"Creating");
    case atRenameRemoteFolder:
    case atRenameRemoteFile:
        return Tr(u"Renaming");
    case atAddToZip:
    case atCreateFolderInZip:
    case atMakeZipInTempFolderAndCopyToRemote:
        return Tr(u"Compressing");
    case atNone_WaitingForReconnection:
    case atNone:
        break;
    }
    return {};
}

TJobIcons::TLinkIcon LinkIcon(TJobCard::TAction action) {
    switch (action) {
    case TJobCard::caRestore:
        return TJobIcons::liRestore;
    case TJobCard::caPause:
        return TJobIcons::liPause;
    case TJobCard::caResume:
        return TJobIcons::liResume;
    case TJobCard::caCancel:
        return TJobIcons::liCancel;
    default:
        return TJobIcons::liBackup;
    }
}

} // namespace

TJobCard::TJobCard(const TJob& job, const TOptions& options, const QRect& rect, const QFont& font) {
    ReadJob(job, options);
    Layout(rect, font);
}

QString TJobCard::LinkCaption(TAction action) {
    switch (action) {
    case caBackup:
        return Tr(u"Backup");
    case caRestore:
        return Tr(u"Restore");
    case caPause:
        return Tr(u"Pause");
    case caResume:
        return Tr(u"Resume");
    case caCancel:
        return Tr(u"Cancel");
    case caViewLog:
        return Tr(u"View Log");
    case caNone:
        break;
    }
    return {};
}

QFont TJobCard::NameFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(12);
    return font;
}

QFont TJobCard::SmallFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(8);
    return font;
}

void TJobCard::ReadJob(const TJob& job, const TOptions& options) {
    m_name = job.stJobName;
    m_iconName = job.IconName();
    // Workers change these fields while we read them: read each once.
    const TJobStatus status = job.JobStatus;
    const TJobResult& result = job.LastJobResult;

    if (status == jsRunning || status == jsPaused) {
        const TFileOperationType type = job.CurrentFileOperationType;
        if (type == atNone_WaitingForReconnection) {
            m_secondLine = Tr(u"Make sure the storage device is connected. Then resume the job.");
            m_advice = true;
        } else {
            m_secondLinePrefix = OperationWord(type);
            const QString path = job.CurrentFileOperationPath.Get();
            m_secondLine = m_secondLinePrefix.isEmpty() ? path : m_secondLinePrefix + u' ' + path;
        }
    } else {
        m_secondLine = DestinationText(job, options);
    }

    switch (status) {
    case jsNone: {
        m_link1 = m_slot1 = caBackup;
        m_link2 = m_slot2 = caRestore;
        const double start = result.StartTime, end = result.EndTime;
        const int errors = result.ErrorsCount, warnings = result.WarningsCount;
        const QString when = DateTimeText(OleDate::ToDateTime(end));
        if (start == 0 && end == 0) {
            m_statusText = Tr(u"Never started");
        } else if (result.Cancelled) {
            m_statusText = TrFormat(u"Cancelled on %s", {when});
            m_statusColour = QColor::fromRgb(CancelledColour);
        } else {
            m_statusText = TrFormat(u"Finished on %s", {when});
            m_statusColour = QColor::fromRgb(errors > 0 || warnings > 0 ? WarningColour : FinishedColour);
        }
        if (start != 0 || end != 0) {
            if (errors > 0)
                m_resultLink = Tr(u"Errors") + QStringLiteral(": ") + QString::number(errors);
            else if (warnings > 0 && !result.Cancelled)
                m_resultLink = Tr(u"Warnings") + QStringLiteral(": ") + QString::number(warnings);
        }
        break;
    }
    case jsWaiting:
    case jsRunning:
        m_slot1 = caPause;
        m_slot2 = m_link2 = caCancel;
        if (job.CanPause)
            m_link1 = caPause;
        // While the restore's dialogs are open the dialogs are the way out; links there would
        // do nothing.
        if (status == jsRunning && job.JobOperation == joReadRestorePoints)
            m_link1 = m_link2 = caNone;
        if (status == jsWaiting) {
            m_statusText = Tr(u"Waiting");
        } else {
            m_progress = std::clamp<int>(job.CurrentFileOperationProgress, 0, 100);
        }
        break;
    case jsPaused:
        m_link1 = m_slot1 = caResume;
        m_link2 = m_slot2 = caCancel;
        m_statusText = Tr(u"Paused");
        break;
    case jsCancelling:
        m_slot1 = caPause;
        m_slot2 = caCancel;
        m_statusText = Tr(u"Cancelling");
        m_statusColour = QColor::fromRgb(CancelledColour);
        break;
    }
}

QRect TJobCard::LinkRect(TAction action, int right, int top) const {
    const QFontMetrics metrics(m_smallFont);
    const int iconSize = metrics.height();
    const int width = iconSize + LinkIconGap + metrics.horizontalAdvance(LinkCaption(action));
    return QRect(right - width + 1, top, width, iconSize);
}

void TJobCard::Layout(const QRect& rect, const QFont& font) {
    m_rect = rect;
    m_nameFont = NameFont(font);
    m_smallFont = SmallFont(font);
    const QFontMetrics nameMetrics(m_nameFont);
    const QFontMetrics smallMetrics(m_smallFont);
    const int height = rect.height();

    const int iconSize = qMax(8, qRound(height * 32.0 / ItemHeight));
    m_iconRect = QRect(rect.left() + Margin, rect.top() + (height - iconSize) / 2, iconSize, iconSize);

    const int top = rect.top() + height / 7;
    m_link2Rect = LinkRect(m_slot2, rect.right() - Margin, top);
    m_link1Rect = LinkRect(m_slot1, m_link2Rect.left() - LinkGap, top);

    const int statusTop = m_link2Rect.bottom() + 4;
    const int statusHeight = smallMetrics.height();
    const int right = rect.right() - Margin;
    int statusLeft = right;
    if (ShowsProgress()) {
        m_progressRect =
            QRect(QPoint(m_link1Rect.left(), statusTop + (statusHeight - ProgressHeight) / 2),
                  QPoint(m_link2Rect.right(), statusTop + (statusHeight - ProgressHeight) / 2 + ProgressHeight - 1));
        statusLeft = m_progressRect.left();
    } else {
        int textRight = right;
        if (!m_resultLink.isEmpty()) {
            const int width = smallMetrics.horizontalAdvance(m_resultLink);
            m_resultLinkRect = QRect(right - width + 1, statusTop, width, statusHeight);
            textRight = m_resultLinkRect.left() - smallMetrics.horizontalAdvance(u' ') - 1;
        }
        const int width = smallMetrics.horizontalAdvance(m_statusText);
        m_statusRect = QRect(textRight - width + 1, statusTop, width, statusHeight);
        statusLeft = m_statusText.isEmpty() ? textRight : m_statusRect.left();
        if (!m_resultLink.isEmpty())
            statusLeft = qMin(statusLeft, m_resultLinkRect.left());
    }

    const int textLeft = m_iconRect.right() + 1 + Margin;
    m_nameRect = QRect(QPoint(textLeft, top), QPoint(m_link1Rect.left() - Margin, top + nameMetrics.height() - 1));
    const int lineTop = m_nameRect.bottom() + 3;
    m_secondLineRect = QRect(QPoint(textLeft, lineTop),
                             QPoint(qMin(m_link1Rect.left(), statusLeft) - Margin, lineTop + statusHeight - 1));
}

TJobCard::TPart TJobCard::PartAt(const QPoint& point) const {
    if (m_link1 != caNone && m_link1Rect.contains(point))
        return cpLink1;
    if (m_link2 != caNone && m_link2Rect.contains(point))
        return cpLink2;
    if (!m_resultLink.isEmpty() && m_resultLinkRect.contains(point))
        return cpResultLink;
    return cpNone;
}

TJobCard::TAction TJobCard::ActionOf(TPart part) const {
    switch (part) {
    case cpLink1:
        return m_link1;
    case cpLink2:
        return m_link2;
    case cpResultLink:
        return caViewLog;
    case cpNone:
        break;
    }
    return caNone;
}

namespace {

double Luminance(const QColor& colour) {
    auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) + 0.0722 * channel(colour.blueF());
}

} // namespace

double TJobCard::Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor TJobCard::Readable(const QColor& colour, const QColor& background) {
    if (Luminance(background) >= 0.18 || Contrast(colour, background) >= MinimumContrast)
        return colour;
    // Same hue and saturation, lighter step by step; white ends the search on any dark ground.
    const QColor hsl = colour.toHsl();
    for (int lightness = hsl.lightness() + 1; lightness <= 255; ++lightness) {
        const QColor lighter = QColor::fromHsl(hsl.hslHue(), hsl.hslSaturation(), lightness);
        if (Contrast(lighter, background) >= MinimumContrast)
            return lighter;
    }
    return Qt::white;
}

bool TJobCard::IsDark(const QPalette& palette) {
    return Luminance(palette.color(QPalette::Base)) < Luminance(palette.color(QPalette::Text));
}

TJobCard::TColours TJobCard::Colours(const QPalette& palette, bool selected) {
    TColours colours;
    const bool dark = IsDark(palette);
    if (selected && dark) {
        const QColor text = palette.color(QPalette::HighlightedText);
        colours.Background = palette.color(QPalette::Highlight);
        colours.Border = colours.Background.lighter(130);
        colours.Name = colours.SecondLine = colours.Advice = colours.Link = colours.Status = text;
        colours.Finished = colours.Warning = colours.Cancelled = colours.ResultLink = text;
    } else {
        colours.Background = selected ? QColor::fromRgb(SelectedColour) : palette.color(QPalette::Base);
        colours.Border = selected ? QColor::fromRgb(SelectedBorderColour)
                                  : (dark ? palette.color(QPalette::Mid) : QColor(0xE6, 0xE6, 0xE6));
        const QColor& ground = colours.Background;
        colours.Name = palette.color(QPalette::Text);
        colours.SecondLine = Readable(QColor(0x60, 0x60, 0x60), ground);
        colours.Advice = Readable(QColor::fromRgb(CancelledColour), ground);
        colours.Link = Readable(QColor::fromRgb(LinkColour), ground);
        colours.Status = colours.Name;
        colours.Finished = Readable(QColor::fromRgb(FinishedColour), ground);
        colours.Warning = Readable(QColor::fromRgb(WarningColour), ground);
        colours.Cancelled = Readable(QColor::fromRgb(CancelledColour), ground);
        colours.ResultLink = colours.Warning;
    }
    colours.BarFrame = dark ? palette.color(QPalette::Mid) : QColor(0xB0, 0xB0, 0xB0);
    colours.BarBackground = dark ? palette.color(QPalette::Base) : QColor(Qt::white);
    return colours;
}

QColor TJobCard::StatusColourIn(const TColours& colours) const {
    if (!m_statusColour.isValid())
        return colours.Status;
    switch (m_statusColour.rgba()) {
    case FinishedColour:
        return colours.Finished;
    case WarningColour:
        return colours.Warning;
    case CancelledColour:
        return colours.Cancelled;
    default:
        return m_statusColour;
    }
}

void TJobCard::PaintLink(QPainter& painter, TAction action, const QRect& rect, bool hovered,
                         const QColor& colour) const {
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const int iconSize = rect.height();
    painter.drawPixmap(rect.topLeft(), TJobIcons::Link(LinkIcon(action), iconSize, ratio));
    QFont font = m_smallFont;
    font.setUnderline(!hovered);
    painter.setFont(font);
    painter.setPen(colour);
    const QRect text(rect.left() + iconSize + LinkIconGap, rect.top(), rect.width() - iconSize - LinkIconGap,
                     rect.height());
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, LinkCaption(action));
}

void TJobCard::Paint(QPainter& painter, bool selected, TPart hovered, const QPalette& palette) const {
    const TColours colours = Colours(palette, selected);
    painter.save();
    painter.fillRect(m_rect, colours.Background);
    painter.setPen(colours.Border);
    if (selected)
        painter.drawRect(m_rect.adjusted(0, 0, -1, -1));
    else
        painter.drawLine(m_rect.bottomLeft(), m_rect.bottomRight());
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    painter.drawPixmap(m_iconRect.topLeft(), TJobIcons::Job(m_iconName, m_iconRect.width(), ratio));

    painter.setFont(m_nameFont);
    painter.setPen(colours.Name);
    const QFontMetrics nameMetrics(m_nameFont);
    painter.drawText(m_nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                     nameMetrics.elidedText(m_name, Qt::ElideRight, m_nameRect.width()));

    painter.setFont(m_smallFont);
    const QFontMetrics smallMetrics(m_smallFont);
    QString line = m_secondLine;
    if (!m_advice) {
        // The operation word stays whole; the path gives way in its middle.
        const int width = m_secondLineRect.width();
        if (!m_secondLinePrefix.isEmpty() && line.size() > m_secondLinePrefix.size()) {
            const QString prefix = m_secondLinePrefix + u' ';
            const QString path = line.mid(prefix.size());
            line =
                prefix + smallMetrics.elidedText(path, Qt::ElideMiddle, width - smallMetrics.horizontalAdvance(prefix));
        } else {
            line = smallMetrics.elidedText(line, Qt::ElideMiddle, width);
        }
    }
    painter.setPen(m_advice ? colours.Advice : colours.SecondLine);
    painter.drawText(m_secondLineRect, Qt::AlignLeft | Qt::AlignVCenter, line);

    if (m_link1 != caNone)
        PaintLink(painter, m_link1, m_link1Rect, hovered == cpLink1, colours.Link);
    if (m_link2 != caNone)
        PaintLink(painter, m_link2, m_link2Rect, hovered == cpLink2, colours.Link);

    if (ShowsProgress()) {
        painter.setPen(colours.BarFrame);
        painter.setBrush(colours.BarBackground);
        painter.drawRect(m_progressRect.adjusted(0, 0, -1, -1));
        const int filled = (m_progressRect.width() - 2) * m_progress / 100;
        if (filled > 0)
            painter.fillRect(
                QRect(m_progressRect.left() + 1, m_progressRect.top() + 1, filled, m_progressRect.height() - 2),
                QColor::fromRgb(ProgressColour));
    } else {
        painter.setFont(m_smallFont);
        painter.setPen(StatusColourIn(colours));
        painter.drawText(m_statusRect, Qt::AlignRight | Qt::AlignVCenter, m_statusText);
        if (!m_resultLink.isEmpty()) {
            QFont font = m_smallFont;
            font.setUnderline(hovered != cpResultLink);
            painter.setFont(font);
            painter.setPen(colours.ResultLink);
            painter.drawText(m_resultLinkRect, Qt::AlignRight | Qt::AlignVCenter, m_resultLink);
        }
    }
    painter.restore();
}
