// The job list's cards and table rows: what each job state shows, in which colour, which links
// it offers and where they are.

#include "UiTestSupport.h"

#include "ui/TJobCard.h"
#include "ui/TJobListModel.h"
#include "ui/TJobListView.h"

#include "core/base/TextFormat.h"
#include "core/model/TJobList.h"

#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

struct TState {
    TJobStatus Status = jsNone;
    TFileOperationType Operation = atNone;
    QString Path;
    int Progress = 0;
    bool CanPause = true;
    double Start = 0;
    double End = 0;
    bool Cancelled = false;
    int Errors = 0;
    int Warnings = 0;
};

TState State(TJobStatus status = jsNone, TFileOperationType operation = atNone, const QString& path = QString(),
             int progress = 0, bool canPause = true, double start = 0, double end = 0, bool cancelled = false,
             int errors = 0, int warnings = 0) {
    return {status, operation, path, progress, canPause, start, end, cancelled, errors, warnings};
}

void Apply(TJob& job, const TState& state) {
    job.JobStatus = state.Status;
    job.CurrentFileOperationType = state.Operation;
    job.CurrentFileOperationPath.Set(state.Path);
    job.CurrentFileOperationProgress = state.Progress;
    job.CanPause = state.CanPause;
    job.LastJobResult.StartTime = state.Start;
    job.LastJobResult.EndTime = state.End;
    job.LastJobResult.Cancelled = state.Cancelled;
    job.LastJobResult.ErrorsCount = state.Errors;
    job.LastJobResult.WarningsCount = state.Warnings;
}

constexpr double RunStart = 45000.25; // 15 March 2023, 06:00
constexpr double RunEnd = 45000.5;

const QRect CardRect(0, 0, 800, 60);

} // namespace

Q_DECLARE_METATYPE(TState)
Q_DECLARE_METATYPE(TDestinationSettings)

class TestJobCards : public QObject {
    Q_OBJECT

private:
    UiTest::TFixture m_fixture;

private Q_SLOTS:
    void content_data() {
        QTest::addColumn<TState>("state");
        QTest::addColumn<QString>("secondLine");
        QTest::addColumn<bool>("advice");
        QTest::addColumn<int>("link1");
        QTest::addColumn<int>("link2");
        QTest::addColumn<QString>("status"); // a prefix
        QTest::addColumn<QRgb>("colour");    // 0: the text colour
        QTest::addColumn<QString>("resultLink");
        QTest::addColumn<int>("progress"); // -1: none

        const QString destination = u"Backup to drive: /backups"_s;
        const QRgb none = 0;
        QTest::newRow("never started") << State() << destination << false << int(TJobCard::caBackup)
                                       << int(TJobCard::caRestore) << u"Never started"_s << none << QString() << -1;
        QTest::newRow("clean run") << State(jsNone, atNone, QString(), 0, true, RunStart, RunEnd) << destination
                                   << false << int(TJobCard::caBackup) << int(TJobCard::caRestore) << u"Finished on "_s
                                   << TJobCard::FinishedColour << QString() << -1;
        QTest::newRow("two errors") << State(jsNone, atNone, QString(), 0, true, RunStart, RunEnd, false, 2)
                                    << destination << false << int(TJobCard::caBackup) << int(TJobCard::caRestore)
                                    << u"Finished on "_s << TJobCard::WarningColour << u"Errors: 2"_s << -1;
        QTest::newRow("warnings only") << State(jsNone, atNone, QString(), 0, true, RunStart, RunEnd, false, 0, 3)
                                       << destination << false << int(TJobCard::caBackup) << int(TJobCard::caRestore)
                                       << u"Finished on "_s << TJobCard::WarningColour << u"Warnings: 3"_s << -1;
        QTest::newRow("cancelled with an error")
            << State(jsNone, atNone, QString(), 0, true, RunStart, RunEnd, true, 1, 4) << destination << false
            << int(TJobCard::caBackup) << int(TJobCard::caRestore) << u"Cancelled on "_s << TJobCard::CancelledColour
            << u"Errors: 1"_s << -1;
        QTest::newRow("cancelled with warnings")
            << State(jsNone, atNone, QString(), 0, true, RunStart, RunEnd, true, 0, 4) << destination << false
            << int(TJobCard::caBackup) << int(TJobCard::caRestore) << u"Cancelled on "_s << TJobCard::CancelledColour
            << QString() << -1;
        QTest::newRow("waiting") << State(jsWaiting) << destination << false << int(TJobCard::caPause)
                                 << int(TJobCard::caCancel) << u"Waiting"_s << none << QString() << -1;
        QTest::newRow("waiting, cannot pause")
            << State(jsWaiting, atNone, QString(), 0, false) << destination << false << int(TJobCard::caNone)
            << int(TJobCard::caCancel) << u"Waiting"_s << none << QString() << -1;
        QTest::newRow("copying") << State(jsRunning, atCopyFromLocalToRemoteFile, u"/src/a.txt"_s, 40)
                                 << u"Copying /src/a.txt"_s << false << int(TJobCard::caPause)
                                 << int(TJobCard::caCancel) << QString() << none << QString() << 40;
        QTest::newRow("downloading") << State(jsRunning, atCopyFromRemoteToLocalFile, u"/b/x"_s, 7) << u"Copying /b/x"_s
                                     << false << int(TJobCard::caPause) << int(TJobCard::caCancel) << QString() << none
                                     << QString() << 7;
        QTest::newRow("removing") << State(jsRunning, atRemoveRemoteNotEmptyFolder, u"/b/old"_s) << u"Removing /b/old"_s
                                  << false << int(TJobCard::caPause) << int(TJobCard::caCancel) << QString() << none
                                  << QString() << 0;
        QTest::newRow("creating") << State(jsRunning, atCreateRemoteFolder, u"/b/new"_s) << u"Creating /b/new"_s
                                  << false << int(TJobCard::caPause) << int(TJobCard::caCancel) << QString() << none
                                  << QString() << 0;
        QTest::newRow("renaming") << State(jsRunning, atRenameRemoteFile, u"/b/f"_s) << u"Renaming /b/f"_s << false
                                  << int(TJobCard::caPause) << int(TJobCard::caCancel) << QString() << none << QString()
                                  << 0;
        QTest::newRow("compressing") << State(jsRunning, atMakeZipInTempFolderAndCopyToRemote, u"/src/c"_s, 100)
                                     << u"Compressing /src/c"_s << false << int(TJobCard::caPause)
                                     << int(TJobCard::caCancel) << QString() << none << QString() << 100;
        QTest::newRow("path alone") << State(jsRunning, atNone, u"/src/d"_s, 150) << u"/src/d"_s << false
                                    << int(TJobCard::caPause) << int(TJobCard::caCancel) << QString() << none
                                    << QString() << 100;
        QTest::newRow("paused") << State(jsPaused, atAddToZip, u"/src/e"_s) << u"Compressing /src/e"_s << false
                                << int(TJobCard::caResume) << int(TJobCard::caCancel) << u"Paused"_s << none
                                << QString() << -1;
        QTest::newRow("paused waiting for the destination")
            << State(jsPaused, atNone_WaitingForReconnection, u"/src/f"_s)
            << u"Make sure the storage device is connected. Then resume the job."_s << true << int(TJobCard::caResume)
            << int(TJobCard::caCancel) << u"Paused"_s << none << QString() << -1;
        QTest::newRow("cancelling") << State(jsCancelling, atCopyFromLocalToRemoteFile, u"/src/g"_s) << destination
                                    << false << int(TJobCard::caNone) << int(TJobCard::caNone) << u"Cancelling"_s
                                    << TJobCard::CancelledColour << QString() << -1;
    }

    void content() {
        QFETCH(TState, state);
        QFETCH(QString, secondLine);
        QFETCH(bool, advice);
        QFETCH(int, link1);
        QFETCH(int, link2);
        QFETCH(QString, status);
        QFETCH(QRgb, colour);
        QFETCH(QString, resultLink);
        QFETCH(int, progress);

        auto job = UiTest::FilesJob(u"Photos"_s, QString(), u"/backups"_s);
        Apply(*job, state);
        const TJobCard card(*job, App().Options, CardRect, QApplication::font());
        QCOMPARE(card.Name(), u"Photos"_s);
        QCOMPARE(card.SecondLine(), secondLine);
        QCOMPARE(card.SecondLineIsAdvice(), advice);
        QCOMPARE(int(card.Link1()), link1);
        QCOMPARE(int(card.Link2()), link2);
        QVERIFY2(card.StatusText().startsWith(status) && (status.isEmpty() == card.StatusText().isEmpty()),
                 qPrintable(card.StatusText()));
        QCOMPARE(card.StatusColour().isValid() ? card.StatusColour().rgba() : 0u, colour);
        QCOMPARE(card.ResultLinkText(), resultLink);
        QCOMPARE(card.ShowsProgress() ? card.Progress() : -1, progress);
    }

    // The end time of the last run is the one shown.
    void finishedShowsTheEndTime() {
        auto job = UiTest::FilesJob(u"Photos"_s);
        Apply(*job, State(jsNone, atNone, QString(), 0, true, RunStart, RunEnd));
        const TJobCard card(*job, App().Options, CardRect, QApplication::font());
        QCOMPARE(card.StatusText(), u"Finished on "_s + DateTimeText(OleDate::ToDateTime(RunEnd)));
        QVERIFY(card.StatusText().contains(u"12:00:00"_s));
    }

    // The links are where the mouse finds them; a link that is not shown reacts to nothing, and
    // the errors link opens the log.
    void linksUnderTheMouse() {
        auto job = UiTest::FilesJob(u"Photos"_s);
        Apply(*job, State(jsNone, atNone, QString(), 0, true, RunStart, RunEnd, false, 2));
        const TJobCard idle(*job, App().Options, CardRect, QApplication::font());
        QVERIFY(idle.Link1Rect().right() < idle.Link2Rect().left());
        QVERIFY(idle.Link2Rect().right() <= CardRect.right());
        QCOMPARE(idle.ActionOf(idle.PartAt(idle.Link1Rect().center())), TJobCard::caBackup);
        QCOMPARE(idle.ActionOf(idle.PartAt(idle.Link2Rect().center())), TJobCard::caRestore);
        QCOMPARE(idle.ActionOf(idle.PartAt(idle.ResultLinkRect().center())), TJobCard::caViewLog);
        QCOMPARE(idle.PartAt(QPoint(CardRect.left() + 20, CardRect.center().y())), TJobCard::cpNone);

        Apply(*job, State(jsRunning, atNone, QString(), 50, false));
        const TJobCard running(*job, App().Options, CardRect, QApplication::font());
        QCOMPARE(running.PartAt(running.Link1Rect().center()), TJobCard::cpNone);
        QCOMPARE(running.ActionOf(running.PartAt(running.Link2Rect().center())), TJobCard::caCancel);
        // The bar runs from the first link's left edge to the second one's right edge.
        QCOMPARE(running.ProgressRect().left(), running.Link1Rect().left());
        QCOMPARE(running.ProgressRect().right(), running.Link2Rect().right());
        QCOMPARE(running.ProgressRect().height(), 10);
    }

    // The drawn card: the selection colours, and the bar filled in its green to the percentage.
    void paintedColours() {
        auto job = UiTest::FilesJob(u"Photos"_s);
        Apply(*job, State(jsRunning, atCopyFromLocalToRemoteFile, u"/src/a"_s, 50));
        const TJobCard card(*job, App().Options, CardRect, QApplication::font());
        QImage image(CardRect.size(), QImage::Format_ARGB32);
        QPainter painter(&image);
        card.Paint(painter, true, TJobCard::cpNone, QApplication::palette());
        painter.end();
        QCOMPARE(image.pixel(0, 0), TJobCard::SelectedBorderColour);
        QCOMPARE(image.pixel(3, 3), TJobCard::SelectedColour);
        const QRect bar = card.ProgressRect();
        const int y = bar.center().y();
        QCOMPARE(image.pixel(bar.left() + 2, y), TJobCard::ProgressColour);
        QCOMPARE(image.pixel(bar.left() + bar.width() * 45 / 100, y), TJobCard::ProgressColour);
        QCOMPARE(image.pixel(bar.left() + bar.width() * 55 / 100, y), qRgb(255, 255, 255));
    }

    // Every text of a card stays readable in a dark colour scheme: the same hue, at least 4.5:1
    // against the card; a light scheme keeps the colours as they are.
    void coloursFollowThePalette() {
        QPalette dark;
        dark.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
        dark.setColor(QPalette::Text, QColor(0xE8, 0xE8, 0xE8));
        dark.setColor(QPalette::Highlight, QColor(0x2A, 0x55, 0x99));
        dark.setColor(QPalette::HighlightedText, Qt::white);
        dark.setColor(QPalette::Mid, QColor(0x50, 0x50, 0x50));
        QPalette light;
        light.setColor(QPalette::Base, Qt::white);
        light.setColor(QPalette::Text, Qt::black);
        QVERIFY(TJobCard::IsDark(dark));
        QVERIFY(!TJobCard::IsDark(light));

        const TJobCard::TColours kept = TJobCard::Colours(light, false);
        QCOMPARE(kept.Finished.rgba(), TJobCard::FinishedColour);
        QCOMPARE(kept.Warning.rgba(), TJobCard::WarningColour);
        QCOMPARE(kept.Cancelled.rgba(), TJobCard::CancelledColour);
        QCOMPARE(kept.Link.rgba(), TJobCard::LinkColour);
        QCOMPARE(TJobCard::Colours(light, true).Background.rgba(), TJobCard::SelectedColour);

        const TJobCard::TColours colours = TJobCard::Colours(dark, false);
        const QList<std::pair<const char*, QColor>> texts{
            {"name", colours.Name},       {"second line", colours.SecondLine}, {"advice", colours.Advice},
            {"link", colours.Link},       {"status", colours.Status},          {"finished", colours.Finished},
            {"warning", colours.Warning}, {"cancelled", colours.Cancelled},    {"result link", colours.ResultLink}};
        for (const auto& [what, colour] : texts)
            QVERIFY2(TJobCard::Contrast(colour, colours.Background) >= TJobCard::MinimumContrast,
                     qPrintable(QString::fromLatin1(what) + u' ' + colour.name()));
        const QList<std::pair<QRgb, QColor>> hues{{TJobCard::FinishedColour, colours.Finished},
                                                  {TJobCard::WarningColour, colours.Warning},
                                                  {TJobCard::CancelledColour, colours.Cancelled},
                                                  {TJobCard::LinkColour, colours.Link}};
        for (const auto& [part, adapted] : hues)
            QVERIFY2(std::abs(QColor::fromRgb(part).hslHue() - adapted.hslHue()) <= 2, qPrintable(adapted.name()));
        const TJobCard::TColours selected = TJobCard::Colours(dark, true);
        QCOMPARE(selected.Background, dark.color(QPalette::Highlight));
        QCOMPARE(selected.Warning, QColor(Qt::white));
        QCOMPARE(selected.Link, QColor(Qt::white));

        // The drawn card uses them: the result and the links are painted in the adapted colours.
        auto job = UiTest::FilesJob(u"Photos"_s);
        Apply(*job, State(jsNone, atNone, QString(), 0, true, RunStart, RunEnd, false, 0, 2));
        const TJobCard card(*job, App().Options, CardRect, QApplication::font());
        QImage image(CardRect.size(), QImage::Format_ARGB32);
        QPainter painter(&image);
        card.Paint(painter, false, TJobCard::cpNone, dark);
        painter.end();
        QCOMPARE(image.pixel(CardRect.center().x(), 1), colours.Background.rgba());
        auto paints = [&](const QRect& area, const QColor& colour) {
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    if (image.pixel(x, y) == colour.rgba())
                        return true;
            return false;
        };
        QVERIFY(paints(card.ResultLinkRect(), colours.Warning));
        QVERIFY(colours.Link != QColor::fromRgb(TJobCard::LinkColour)); // too dark on this ground
        QVERIFY(paints(card.Link1Rect(), colours.Link));
        QVERIFY(!paints(card.Link1Rect(), QColor::fromRgb(TJobCard::LinkColour)));
    }

    void remoteDestinations_data() {
        QTest::addColumn<TDestinationSettings>("destination");
        QTest::addColumn<QString>("secondLine");
        QTest::addColumn<QString>("storage");
        TDestinationSettings share;
        share.DestinationType = dtNetwork;
        share.Network.UNCPath = u"//nas/backups"_s;
        TDestinationSettings ftp;
        ftp.DestinationType = dtFTP;
        ftp.FTP = {7, u"/photos"_s};
        TDestinationSettings gone = ftp;
        gone.FTP.AccountID = 8;
        TDestinationSettings cloud;
        cloud.DestinationType = dtCloud;
        cloud.Cloud = {u"DropBox"_s, u"/Backups/Photos"_s};
        QTest::newRow("share") << share << u"Backup to network: //nas/backups"_s << u"Network"_s;
        QTest::newRow("ftp") << ftp << u"Backup to FTP (Office): /photos"_s << u"FTP"_s;
        QTest::newRow("ftp account removed") << gone << QString() << u"FTP"_s;
        QTest::newRow("cloud") << cloud << u"Backup to cloud (DropBox): /Backups/Photos"_s << u"Cloud"_s;
    }

    void remoteDestinations() {
        QFETCH(TDestinationSettings, destination);
        QFETCH(QString, secondLine);
        QFETCH(QString, storage);
        TFTPAccount office;
        office.ID = 7;
        office.AccName = u"Office"_s;
        App().Options.FTPAccounts = {office};
        TJobList jobs(&CreateJobOfKind);
        TJob* job = jobs.Append(UiTest::FilesJob(u"Photos"_s));
        job->DestinationSettings = destination;
        const TJobCard card(*job, App().Options, CardRect, QApplication::font());
        QCOMPARE(card.SecondLine(), secondLine);
        TJobListModel model(jobs);
        QCOMPARE(model.index(0, TJobListModel::colStorage).data().toString(), storage);
        App().Options.FTPAccounts.clear();
    }

    // A screen reader reads a card as its name, destination and last result, and learns its links.
    void accessibleNames() {
        TJobList jobs(&CreateJobOfKind);
        TJob* job = jobs.Append(UiTest::FilesJob(u"Photos"_s, QString(), u"/media/usb/backups"_s));
        Apply(*job, State(jsNone, atNone, QString(), 0, true, RunStart, RunEnd, false, 2));
        TJobListModel model(jobs);
        TJobListView view;
        view.setModel(&model);
        view.SetCardView(true);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QString expected = u"Photos, Backup to drive: /media/usb/backups, Finished on "_s;
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&view);
        QVERIFY(list != nullptr);
        QString name, description;
        for (int i = 0; i < list->childCount(); ++i) {
            QAccessibleInterface* child = list->child(i);
            if (child != nullptr && child->text(QAccessible::Name).startsWith(u"Photos"_s)) {
                name = child->text(QAccessible::Name);
                description = child->text(QAccessible::Description);
            }
        }
        QVERIFY2(name.startsWith(expected), qPrintable(name));
        QVERIFY2(name.endsWith(u", Errors: 2"_s), qPrintable(name));
        QCOMPARE(description, u"Backup, Restore"_s);
    }

    void tableRows_data() {
        QTest::addColumn<TState>("state");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("statusNavy");
        QTest::addColumn<QString>("lastResult"); // a prefix
        QTest::addColumn<QRgb>("resultColour");  // 0: none
        QTest::newRow("ready, never run") << State() << u"Ready"_s << false << u"Never started"_s << QRgb(0);
        QTest::newRow("ready, finished") << State(jsNone, atNone, QString(), 0, true, RunStart, RunEnd) << u"Ready"_s
                                         << false << u"Finished on "_s << TJobCard::FinishedColour;
        QTest::newRow("ready, errors") << State(jsNone, atNone, QString(), 0, true, RunStart, RunEnd, false, 1)
                                       << u"Ready"_s << false << u"Finished with errors on "_s
                                       << TJobCard::WarningColour;
        QTest::newRow("ready, warnings") << State(jsNone, atNone, QString(), 0, true, RunStart, RunEnd, false, 0, 1)
                                         << u"Ready"_s << false << u"Finished with warnings on "_s
                                         << TJobCard::WarningColour;
        QTest::newRow("ready, cancelled") << State(jsNone, atNone, QString(), 0, true, RunStart, RunEnd, true)
                                          << u"Ready"_s << false << u"Cancelled on "_s << TJobCard::CancelledColour;
        QTest::newRow("waiting") << State(jsWaiting) << u"Waiting"_s << true << u"-"_s << QRgb(0);
        QTest::newRow("running") << State(jsRunning) << u"Running"_s << true << u"-"_s << QRgb(0);
        QTest::newRow("cancelling") << State(jsCancelling) << u"Cancelling"_s << true << u"-"_s << QRgb(0);
        QTest::newRow("paused") << State(jsPaused) << u"Paused"_s << true << u"-"_s << QRgb(0);
    }

    void tableRows() {
        QFETCH(TState, state);
        QFETCH(QString, status);
        QFETCH(bool, statusNavy);
        QFETCH(QString, lastResult);
        QFETCH(QRgb, resultColour);
        TJobList jobs(&CreateJobOfKind);
        TJob* job = jobs.Append(UiTest::FilesJob(u"Photos"_s));
        Apply(*job, state);
        TJobListModel model(jobs);
        QCOMPARE(model.columnCount(), 5);
        QCOMPARE(model.headerData(TJobListModel::colLastResult, Qt::Horizontal).toString(), u"Last Result"_s);
        QCOMPARE(model.index(0, TJobListModel::colTitle).data().toString(), u"Photos"_s);
        QCOMPARE(model.index(0, TJobListModel::colType).data().toString(), u"Files and Folders Backup"_s);
        QCOMPARE(model.index(0, TJobListModel::colStorage).data().toString(), u"Drive"_s);
        QCOMPARE(model.index(0, TJobListModel::colStatus).data().toString(), status);
        const QVariant statusColour = model.index(0, TJobListModel::colStatus).data(Qt::ForegroundRole);
        QCOMPARE(statusColour.isValid(), statusNavy);
        if (statusNavy)
            QCOMPARE(statusColour.value<QColor>().rgb(), qRgb(0, 0, 0x80));
        QVERIFY(model.index(0, TJobListModel::colLastResult).data().toString().startsWith(lastResult));
        const QVariant colour = model.index(0, TJobListModel::colLastResult).data(Qt::ForegroundRole);
        QCOMPARE(colour.isValid() ? colour.value<QColor>().rgba() : 0u, resultColour);
        QCOMPARE(TJobListModel::JobOf(model.index(0, 0)), job);
    }
};

QTEST_MAIN(TestJobCards)
#include "tst_jobcards.moc"
