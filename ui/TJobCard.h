#pragma once

#include "core/model/TJob.h"
#include "core/settings/TOptions.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>
#include <QString>

class QPainter;

// One card of the job list in card view: what it shows, read from the job's fields at one moment,
// and where each part lies in the item's rectangle. The list draws cards with it and finds the
// link under the mouse with the same geometry.
class TJobCard {
public:
    enum TAction { caNone, caBackup, caRestore, caPause, caResume, caCancel, caViewLog };
    enum TPart { cpNone, cpLink1, cpLink2, cpResultLink };

    static constexpr int ItemHeight = 60; // at 96 pixels per inch
    static constexpr QRgb SelectedColour = 0xFFCDE8FF;
    static constexpr QRgb SelectedBorderColour = 0xFF99D1FF;
    static constexpr QRgb FinishedColour = 0xFF008000;
    static constexpr QRgb WarningColour = 0xFFFFA500;
    static constexpr QRgb CancelledColour = 0xFFFF0000;
    static constexpr QRgb ProgressColour = 0xFF8BC050;
    static constexpr QRgb LinkColour = 0xFF0066CC;

    // The colours a card is drawn with in one palette. On a light background the colours above
    // are used as they are; on a dark one each becomes the same hue light enough to read (at
    // least MinimumContrast against the background), and a selected card takes the palette's
    // highlight with its texts in the highlighted-text colour.
    struct TColours {
        QColor Background;
        QColor Border;
        QColor Name;
        QColor SecondLine;
        QColor Advice;
        QColor Link;
        QColor Status; // of a status without a colour of its own
        QColor Finished;
        QColor Warning;
        QColor Cancelled;
        QColor ResultLink;
        QColor BarFrame;
        QColor BarBackground;
    };
    static constexpr double MinimumContrast = 4.5;
    static TColours Colours(const QPalette& palette, bool selected);
    // The contrast ratio of two colours (1 to 21) by their relative luminance.
    static double Contrast(const QColor& a, const QColor& b);
    // colour itself, or the same hue lightened until it reaches MinimumContrast on background.
    static QColor Readable(const QColor& colour, const QColor& background);
    static bool IsDark(const QPalette& palette);

    TJobCard(const TJob& job, const TOptions& options, const QRect& rect, const QFont& font);

    // ---- Content ----
    QString Name() const { return m_name; }
    // The operation and path of a running or paused job, the reconnection advice, or the
    // destination; not yet shortened.
    QString SecondLine() const { return m_secondLine; }
    bool SecondLineIsAdvice() const { return m_advice; }
    TAction Link1() const { return m_link1; }
    TAction Link2() const { return m_link2; }
    static QString LinkCaption(TAction action);
    QString StatusText() const { return m_statusText; }
    QColor StatusColour() const { return m_statusColour; }
    // "Errors: N" or "Warnings: N" after the status of an idle job; empty when none.
    QString ResultLinkText() const { return m_resultLink; }
    bool ShowsProgress() const { return m_progress >= 0; }
    int Progress() const { return m_progress; }

    // ---- Geometry ----
    QRect IconRect() const { return m_iconRect; }
    QRect Link1Rect() const { return m_link1Rect; }
    QRect Link2Rect() const { return m_link2Rect; }
    QRect ResultLinkRect() const { return m_resultLinkRect; }
    QRect ProgressRect() const { return m_progressRect; }
    // The link (shown ones only) at a point of the item.
    TPart PartAt(const QPoint& point) const;
    TAction ActionOf(TPart part) const;

    // Draws the card in palette's colours; hovered is the link under the mouse (drawn without
    // underline).
    void Paint(QPainter& painter, bool selected, TPart hovered, const QPalette& palette) const;
    // The colour the status text is drawn with.
    QColor StatusColourIn(const TColours& colours) const;

    static QFont NameFont(const QFont& base);
    static QFont SmallFont(const QFont& base);

private:
    void ReadJob(const TJob& job, const TOptions& options);
    void Layout(const QRect& rect, const QFont& font);
    QRect LinkRect(TAction action, int right, int top) const;
    void PaintLink(QPainter& painter, TAction action, const QRect& rect, bool hovered, const QColor& colour) const;

    QString m_name;
    QString m_secondLine;
    QString m_secondLinePrefix; // the operation word, kept whole when the path is shortened
    bool m_advice = false;
    QString m_iconName;
    TAction m_link1 = caNone;
    TAction m_link2 = caNone;
    // The captions the two link places are measured with (also when no link is shown there).
    TAction m_slot1 = caBackup;
    TAction m_slot2 = caRestore;
    QString m_statusText;
    QColor m_statusColour;
    QString m_resultLink;
    int m_progress = -1;

    QFont m_nameFont;
    QFont m_smallFont;
    QRect m_rect;
    QRect m_iconRect;
    QRect m_nameRect;
    QRect m_secondLineRect;
    QRect m_link1Rect;
    QRect m_link2Rect;
    QRect m_statusRect;
    QRect m_resultLinkRect;
    QRect m_progressRect;
};
