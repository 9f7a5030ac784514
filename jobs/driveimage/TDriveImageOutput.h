#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// What one line of the image tool's output means for the job.
struct TDriveImageOutputAction {
    enum TKind { Error, Plain, Progress };
    TKind Kind = Plain;
    QString Text;    // Error: the log line (after the time stamp); Plain: the line; Progress: the activity
    int Percent = 0; // Progress only
    bool operator==(const TDriveImageOutputAction&) const = default;
};

// Reads the image tool's output as it arrives and turns its lines into log lines, error counts and
// progress. A line cut between two reads is kept until its end arrives, so that a cut error line
// still counts and a cut progress line still shows.
class TDriveImageOutput {
public:
    using TTranslate = std::function<QString(const QString&)>;
    explicit TDriveImageOutput(TTranslate translate)
        : m_tr(std::move(translate)) {}

    // The complete lines of one read; a trailing part without its line break waits for the next.
    QList<TDriveImageOutputAction> Feed(const QByteArray& bytes);
    // The end of the output: the last line even without a line break.
    QList<TDriveImageOutputAction> Finish();
    // Whether the tool's banner has been seen: the tool prints it once it holds its locks, and only
    // then can "stop job" find it.
    bool SawBanner() const { return m_sawBanner; }

private:
    QList<TDriveImageOutputAction> ParseLines(const QList<QByteArray>& lines);
    QString Tr(const QString& text) const { return m_tr(text); }

    TTranslate m_tr;
    QByteArray m_pending;
    bool m_sawBanner = false;
};
