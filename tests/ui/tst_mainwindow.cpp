// The main window over a started program: filters and search, the list's keyboard and mouse
// rules, the actions and their refusals, the menus, the language and the saved window state.

#include "UiTestSupport.h"

#include "ui/JobFilter.h"
#include "ui/TFrmFTPSettings.h"
#include "ui/TJobActions.h"
#include "ui/TJobListModel.h"
#include "ui/TJobListView.h"
#include "ui/TJobWizard.h"
#include "ui/TfrmFTPClient.h"
#include "ui/TfrmJobProperties.h"
#include "ui/TfrmLog.h"
#include "ui/TfrmMainVaultora.h"
#include "ui/TfrmOptions.h"
#include "ui/TfrmShutdown.h"
#include "ui/TfrmSourceType.h"
#include "ui/TfrmWelcome.h"

#include "core/format/OptionsFile.h"
#include "core/model/TJobList.h"
#include "core/model/TJobLock.h"
#include "core/schedule/TShutdownCountdown.h"

#include <QAction>
#include <QCheckBox>
#include <QEnterEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr double RunStart = 45400.25;
constexpr double RunEnd = 45400.5;

void Finished(TJob& job, int errors = 0, int warnings = 0, bool cancelled = false) {
    job.LastJobResult.StartTime = RunStart;
    job.LastJobResult.EndTime = RunEnd;
    job.LastJobResult.ErrorsCount = errors;
    job.LastJobResult.WarningsCount = warnings;
    job.LastJobResult.Cancelled = cancelled;
}

void Weekly(TJob& job, int weekday, const QString& time) {
    job.SchedulingSettings.SchedulingType = stDaysOfWeek;
    job.SchedulingSettings.DaysOfWeek.at(size_t(weekday)) = true;
    job.SchedulingSettings.TimeTable = {time};
}

// A wizard that fills the job the way a user would and answers with a chosen result.
class TFakeWizard : public TJobWizard {
public:
    TResult Answer = wrDone;
    QString LastTitle;
    TMode LastMode = wmNew;
    const TJob* LastSource = nullptr;
    QString Source;

    TResult Run(QWidget*, TMode mode, const QString& title, TJob& job, const TJob* source) override {
        LastTitle = title;
        LastMode = mode;
        LastSource = source;
        if (auto* files = dynamic_cast<TJob_FilesAndFolders*>(&job))
            files->Settings.Sources.List = {Source + u"/*"_s};
        return Answer;
    }
};

QStringList VisibleNames(const TfrmMainVaultora& window) {
    QStringList names;
    for (int row = 0; row < window.Model()->rowCount(); ++row)
        if (!window.JobsView()->isRowHidden(row, QModelIndex()))
            names.append(window.Model()->JobAt(row)->stJobName);
    return names;
}

QStringList JobNames(TApplicationContext& context) {
    QStringList names;
    for (int i = 0; i < context.Jobs().Count(); ++i)
        names.append(context.Jobs().At(i)->stJobName);
    return names;
}

QStringList EventTexts(TfrmMainVaultora& window) {
    // The tick moves the pending lines in.
    window.Tick();
    QStringList shown;
    const QAbstractItemModel* model = window.EventsList()->model();
    for (int row = 0; row < model->rowCount(); ++row)
        shown.append(model->index(row, 0).data().toString().mid(21)); // without the date and time
    return shown;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<UiTest::TFixture> m_fixture;
    std::unique_ptr<TApplicationContext> m_context;
    std::unique_ptr<TScheduler> m_scheduler;
    std::unique_ptr<TfrmMainVaultora> m_window;

    // The program started with these jobs (their local files and list saved), its window shown.
    TfrmMainVaultora& Window(std::vector<std::unique_ptr<TJob>> jobs, const QStringList& arguments = {}) {
        m_context = m_fixture->StartContext(arguments);
        for (auto& job : jobs) {
            job->SaveLocalJobFile(job->LocalJobFilePath());
            m_context->Jobs().Append(std::move(job));
        }
        m_context->Jobs().SaveJobsList();
        m_scheduler = m_fixture->Scheduler(*m_context);
        m_window = std::make_unique<TfrmMainVaultora>(*m_context, *m_scheduler);
        m_window->AfterStart();
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            qFatal("the window is not shown");
        return *m_window;
    }

    TfrmMainVaultora& Window(const QStringList& names) {
        std::vector<std::unique_ptr<TJob>> jobs;
        for (const QString& name : names)
            jobs.push_back(UiTest::FilesJob(name, QString(), m_fixture->Path(u"dest"_s)));
        return Window(std::move(jobs));
    }

    TJob* Job(const QString& name) const { return m_context->Jobs().Find(name); }

    // The jobs of the filter table.
    TfrmMainVaultora& FilterWindow() {
        std::vector<std::unique_ptr<TJob>> jobs;
        auto add = [&jobs](const QString& name) -> TJob& {
            jobs.push_back(UiTest::FilesJob(name));
            return *jobs.back();
        };
        Finished(add(u"Photos"_s));
        Finished(add(u"Documents"_s), 2);
        Finished(add(u"Music"_s), 0, 0, true);
        Finished(add(u"Mail"_s), 0, 1);
        add(u"Archive"_s).JobStatus = jsPaused;
        Weekly(add(u"Today"_s), 3, u"10:00:00"_s);
        Weekly(add(u"Saturday"_s), 6, u"08:00:00"_s);
        TJob& monthly = add(u"Monthly"_s);
        monthly.SchedulingSettings.SchedulingType = stDaysOfMonth;
        monthly.SchedulingSettings.DaysOfMonth.at(15) = true;
        monthly.SchedulingSettings.TimeTable = {u"08:00:00"_s};
        Weekly(add(u"EarlierToday"_s), 3, u"08:00:00"_s);
        return Window(std::move(jobs));
    }

private Q_SLOTS:
    void init() {
        m_fixture = std::make_unique<UiTest::TFixture>();
        QDir().mkpath(m_fixture->Path(u"dest"_s));
    }

    void cleanup() {
        if (m_context)
            for (int i = 0; i < m_context->Jobs().Count(); ++i)
                m_context->Jobs().At(i)->JobStatus = jsNone;
        m_window.reset();
        m_scheduler.reset();
        m_context.reset();
        m_fixture.reset();
    }

    void filters_data() {
        QTest::addColumn<int>("filter");
        QTest::addColumn<QStringList>("visible");
        QTest::addColumn<QString>("header");
        QTest::newRow("Jobs") << int(jfJobs)
                              << QStringList{u"Photos"_s, u"Documents"_s, u"Music"_s,   u"Mail"_s,        u"Archive"_s,
                                             u"Today"_s,  u"Saturday"_s,  u"Monthly"_s, u"EarlierToday"_s}
                              << u"Jobs"_s;
        QTest::newRow("Running") << int(jfRunning) << QStringList{u"Archive"_s} << u"Jobs > Running"_s;
        QTest::newRow("Cancelled") << int(jfCancelled) << QStringList{u"Music"_s} << u"Jobs > Cancelled"_s;
        QTest::newRow("Warnings") << int(jfWarnings) << QStringList{u"Mail"_s} << u"Jobs > Warnings"_s;
        QTest::newRow("Errors") << int(jfErrors) << QStringList{u"Documents"_s} << u"Jobs > Errors"_s;
        QTest::newRow("Scheduled") << int(jfScheduled)
                                   << QStringList{u"Today"_s, u"Saturday"_s, u"Monthly"_s, u"EarlierToday"_s}
                                   << u"Jobs > Scheduled"_s;
        QTest::newRow("Today") << int(jfToday) << QStringList{u"Today"_s} << u"Jobs > Scheduled > Today"_s;
        QTest::newRow("This week") << int(jfThisWeek) << QStringList{u"Today"_s, u"Saturday"_s}
                                   << u"Jobs > Scheduled > This week"_s;
        QTest::newRow("Next 10 days") << int(jfNext10Days)
                                      << QStringList{u"Today"_s, u"Saturday"_s, u"Monthly"_s, u"EarlierToday"_s}
                                      << u"Jobs > Scheduled > Next 10 days"_s;
    }

    // Clicking a node shows its jobs and its path in the header.
    void filters() {
        QFETCH(int, filter);
        QFETCH(QStringList, visible);
        QFETCH(QString, header);
        TfrmMainVaultora& window = FilterWindow();
        QTreeWidget* tree = window.FilterTree();
        QTreeWidgetItem* node =
            tree->findItems(header.section(u" > "_s, -1), Qt::MatchExactly | Qt::MatchRecursive).value(0);
        QVERIFY(node);
        const QRect rect = tree->visualItemRect(node);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(int(window.CurrentFilter()), filter);
        QCOMPARE(VisibleNames(window), visible);
        QCOMPARE(window.HeaderLabel()->text(), header);
        QVERIFY(window.EmptyPanel()->isHidden());
    }

    // With the filter "Errors", the card of a job whose last run had 2 errors carries the orange
    // link "Errors: 2".
    void errorsFilterShowsTheErrorsLink() {
        TfrmMainVaultora& window = FilterWindow();
        window.SelectFilter(jfErrors);
        QCOMPARE(VisibleNames(window), QStringList{u"Documents"_s});
        const int row = m_context->Jobs().IndexOf(Job(u"Documents"_s));
        const TJobCard card = window.JobsView()->CardOfRow(row);
        QCOMPARE(card.ResultLinkText(), u"Errors: 2"_s);
        QCOMPARE(card.StatusColour().rgb(), TJobCard::WarningColour);
        const QImage image = window.JobsView()->viewport()->grab().toImage();
        const QRect link = card.ResultLinkRect();
        bool orange = false;
        for (int x = link.left(); x <= link.right() && !orange; ++x)
            for (int y = link.top(); y <= link.bottom() && !orange; ++y)
                orange = image.pixel(x, y) == TJobCard::WarningColour;
        QVERIFY2(orange, "the errors link is not drawn in orange");
    }

    void search_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("visible");
        QTest::newRow("photo") << u"photo"_s << QStringList{u"Photos"_s};
        QTest::newRow("OTOS") << u"OTOS"_s << QStringList{u"Photos"_s};
        QTest::newRow("letters of two names") << u"o"_s << QStringList{u"Photos"_s, u"Documents"_s, u"Monthly"_s};
        QTest::newRow("nothing") << u"Photos2"_s << QStringList{};
    }

    // A confirmed search: the lower-cased text in the lower-cased names, whatever node was
    // selected; the header says "Search results".
    void search() {
        QFETCH(QString, text);
        QFETCH(QStringList, visible);
        std::vector<std::unique_ptr<TJob>> jobs;
        for (const QString& name : {u"Photos"_s, u"Documents"_s, u"Music"_s, u"Monthly"_s, u"Mail"_s})
            jobs.push_back(UiTest::FilesJob(name));
        TfrmMainVaultora& window = Window(std::move(jobs));
        window.SelectFilter(jfErrors);
        QLineEdit* box = window.SearchBox();
        box->setFocus();
        QTest::keyClicks(box, text);
        QTest::keyClick(box, Qt::Key_Return);
        QVERIFY(window.Searching());
        QCOMPARE(window.SearchedString(), text);
        QCOMPARE(VisibleNames(window), visible);
        QCOMPARE(window.HeaderLabel()->text(), u"Search results"_s);
        QCOMPARE(window.FilterTree()->currentItem(), nullptr);
        QCOMPARE(window.EmptyPanel()->isVisible(), visible.isEmpty());
        if (visible.isEmpty())
            QCOMPARE(window.EmptyPanel()->text(), u"No items match your search"_s);
        // Clicking a node ends the search.
        window.SelectFilter(jfJobs);
        QVERIFY(!window.Searching());
        QCOMPARE(VisibleNames(window).size(), 5);
    }

    // The box shows its placeholder unless it has the focus, and is emptied when it gets it.
    void searchBoxEmptiesOnFocus() {
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
        window.activateWindow();
        QLineEdit* box = window.SearchBox();
        QCOMPARE(box->placeholderText(), u"Find jobs..."_s);
        box->setText(u"left over"_s);
        QFocusEvent in(QEvent::FocusIn);
        QApplication::sendEvent(box, &in);
        QCOMPARE(box->text(), QString());
    }

    // Every job filtered out under "Scheduled": the centred panel names the node's path.
    void emptyCategory() {
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s, u"Documents"_s});
        window.SelectFilter(jfScheduled);
        QVERIFY(VisibleNames(window).isEmpty());
        QVERIFY(window.EmptyPanel()->isVisible());
        QCOMPARE(window.EmptyPanel()->text(), u"No items found in category \"Jobs > Scheduled\""_s);
        QVERIFY(window.EmptyPanel()->geometry().intersects(window.JobsView()->viewport()->rect()));
        window.SelectFilter(jfJobs);
        QVERIFY(window.EmptyPanel()->isHidden());
    }

    void rename_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("box");
        QTest::newRow("own name in other case") << u"photos"_s << QStringList{u"Photos"_s, u"Documents"_s}
                                                << u"Job \"photos\" already exists. Please specify another name."_s;
        QTest::newRow("own name with a trailing blank")
            << u"Photos "_s << QStringList{u"Photos"_s, u"Documents"_s} << QString();
        QTest::newRow("another job's name") << u"DOCUMENTS"_s << QStringList{u"Photos"_s, u"Documents"_s}
                                            << u"Job \"DOCUMENTS\" already exists. Please specify another name."_s;
        QTest::newRow("forbidden character") << u"Pho:tos"_s << QStringList{u"Photos"_s, u"Documents"_s}
                                             << u"The following symbols are not allowed in the title:\n\n<>:\"/\\|?*"_s;
        QTest::newRow("new name") << u" Pictures "_s << QStringList{u"Pictures"_s, u"Documents"_s} << QString();
    }

    void rename() {
        QFETCH(QString, typed);
        QFETCH(QStringList, names);
        QFETCH(QString, box);
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s, u"Documents"_s});
        window.SelectJob(Job(u"Photos"_s));
        TInputBox::SetNextAnswer(typed);
        window.Actions().Rename();
        QCOMPARE(TInputBox::TakePrompts(), QStringList{u"New job name:"_s});
        QCOMPARE(UiTest::ShownTexts(), box.isEmpty() ? QStringList() : QStringList{box});
        QCOMPARE(JobNames(*m_context), names);
        const QString data = m_fixture->DataFolder();
        QVERIFY(QFileInfo::exists(data + u'/' + names.first() + u".vld"_s));
        if (names.first() != u"Photos"_s) {
            QVERIFY(!QFileInfo::exists(data + u"/Photos.vld"_s));
            QVERIFY(EventTexts(window).contains(u"Job \"Photos\" is renamed to \"Pictures\"."_s));
            QCOMPARE(UiTest::ReadFile(data + u"/jobslist.vll"_s), QByteArray("\xEF\xBB\xBFPictures\r\nDocuments\r\n"));
        }
    }

    // Actions on a busy job are refused with the one text, and the job stays as it was.
    void busyJobRefusesActions_data() {
        QTest::addColumn<QString>("action");
        for (const char* action : {"actRename", "actRemove", "actBackup", "actRestore", "actProperties", "actDuplicate",
                                   "actHistory", "actViewLog"})
            QTest::newRow(action) << QString::fromLatin1(action);
    }

    void busyJobRefusesActions() {
        QFETCH(QString, action);
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
        TJob* job = Job(u"Photos"_s);
        window.SelectJob(job);
        job->JobStatus = jsWaiting;
        window.RefreshDisplay();
        QVERIFY(!window.Action(action)->isEnabled());
        // The entry is greyed; a caller that runs it anyway is refused.
        const QStringList refusal{
            u"Unable to complete the action at the moment. Please try again in several seconds."_s};
        if (action == u"actRename"_s)
            window.Actions().Rename();
        else if (action == u"actRemove"_s)
            window.Actions().Remove();
        else if (action == u"actBackup"_s)
            window.Actions().Backup();
        else if (action == u"actRestore"_s)
            window.Actions().Restore();
        else if (action == u"actProperties"_s)
            window.Actions().Properties();
        else if (action == u"actDuplicate"_s)
            window.Actions().Duplicate();
        else if (action == u"actHistory"_s)
            window.History();
        else
            window.ViewLog();
        QCOMPARE(UiTest::ShownTexts(), refusal);
        QCOMPARE(TInputBox::TakePrompts(), QStringList());
        QCOMPARE(job->JobStatus.Load(), jsWaiting);
        QCOMPARE(JobNames(*m_context), QStringList{u"Photos"_s});
    }

    void moves_data() {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<int>("delta");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("first up") << u"A"_s << -1 << QStringList{u"A"_s, u"B"_s, u"C"_s};
        QTest::newRow("last down") << u"C"_s << 1 << QStringList{u"A"_s, u"B"_s, u"C"_s};
        QTest::newRow("middle up") << u"B"_s << -1 << QStringList{u"B"_s, u"A"_s, u"C"_s};
        QTest::newRow("first down") << u"A"_s << 1 << QStringList{u"B"_s, u"A"_s, u"C"_s};
    }

    // The move buttons move the selected job in the list and in the jobs list file; at the ends
    // nothing happens.
    void moves() {
        QFETCH(QString, selected);
        QFETCH(int, delta);
        QFETCH(QStringList, order);
        TfrmMainVaultora& window = Window(QStringList{u"A"_s, u"B"_s, u"C"_s});
        const QString listPath = m_fixture->DataFolder() + u"/jobslist.vll"_s;
        QFile::remove(listPath);
        window.SelectJob(Job(selected));
        QTest::mouseClick(delta < 0 ? window.MoveUpButton() : window.MoveDownButton(), Qt::LeftButton);
        QCOMPARE(JobNames(*m_context), order);
        QCOMPARE(window.SelectedJob(), Job(selected));
        const bool moved = order != QStringList{u"A"_s, u"B"_s, u"C"_s};
        QCOMPARE(QFileInfo::exists(listPath), moved);
        if (moved)
            QCOMPARE(UiTest::ReadFile(listPath), "\xEF\xBB\xBF" + order.join(u"\r\n"_s).toUtf8() + "\r\n");
    }

    // Up and Down step over the rows a search hides; every other key is left alone.
    void keyboard() {
        TfrmMainVaultora& window = Window(QStringList{u"Red"_s, u"Green"_s, u"Blue"_s, u"Redwood"_s});
        window.Search(u"red"_s);
        TJobListView* view = window.JobsView();
        view->setFocus();
        window.SelectJob(Job(u"Red"_s));
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(window.SelectedJob(), Job(u"Redwood"_s));
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(window.SelectedJob(), Job(u"Redwood"_s));
        QTest::keyClick(view, Qt::Key_Up);
        QCOMPARE(window.SelectedJob(), Job(u"Red"_s));
        for (Qt::Key key : {Qt::Key_End, Qt::Key_PageDown, Qt::Key_G})
            QTest::keyClick(view, key);
        QCOMPARE(window.SelectedJob(), Job(u"Red"_s));
        QCOMPARE(JobNames(*m_context).size(), 4);
    }

    // The right button selects the row under the mouse; the context menu follows the job's state.
    void rightClickAndContextMenus() {
        TfrmMainVaultora& window = Window(QStringList{u"A"_s, u"B"_s, u"C"_s});
        TJobListView* view = window.JobsView();
        window.SelectJob(Job(u"A"_s));
        const QRect third = view->visualRect(window.Model()->index(2, 0));
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, third.center());
        QCOMPARE(window.SelectedJob(), Job(u"C"_s));
        QCOMPARE(window.ContextMenuForSelection()->objectName(), u"mnuIdleJob"_s);

        TJob* job = Job(u"C"_s);
        job->JobStatus = jsRunning;
        window.RefreshDisplay();
        QMenu* running = window.ContextMenuForSelection();
        QCOMPARE(running->objectName(), u"mnuRunningJob"_s);
        QAction* pause = window.Action(u"actPause"_s);
        QCOMPARE(pause->text(), u"Pause"_s);
        QVERIFY(pause->isEnabled());
        pause->trigger();
        QCOMPARE(job->JobStatus.Load(), jsPaused);
        QCOMPARE(pause->text(), u"Resume"_s);
        pause->trigger();
        QCOMPARE(job->JobStatus.Load(), jsRunning);
        window.Action(u"actCancel"_s)->trigger();
        QCOMPARE(job->JobStatus.Load(), jsCancelling);
        window.RefreshDisplay();
        QVERIFY(!pause->isEnabled());
        QVERIFY(!window.Action(u"actCancel"_s)->isEnabled());
    }

    // Pause All and Cancel All reach every job.
    void pauseAllAndCancelAll() {
        TfrmMainVaultora& window = Window(QStringList{u"A"_s, u"B"_s, u"C"_s});
        Job(u"A"_s)->JobStatus = jsRunning;
        Job(u"B"_s)->JobStatus = jsWaiting;
        window.Action(u"actPauseAll"_s)->trigger();
        QCOMPARE(Job(u"A"_s)->JobStatus.Load(), jsPaused);
        QCOMPARE(Job(u"B"_s)->JobStatus.Load(), jsWaiting);
        window.Action(u"actCancelAll"_s)->trigger();
        QCOMPARE(Job(u"A"_s)->JobStatus.Load(), jsCancelling);
        QCOMPARE(Job(u"B"_s)->JobStatus.Load(), jsNone);
        QCOMPARE(Job(u"C"_s)->JobStatus.Load(), jsNone);
        window.RefreshDisplay();
        const QStringList panels{u"Jobs: 3"_s, u"Running: 1"_s, u"Cancelled: 0"_s};
        QCOMPARE(window.StatusPanelTexts().mid(0, 3), panels);
    }

    // Everything without the mouse: the arrows choose a job, F5 backs it up, Ctrl+L opens its log,
    // Ctrl+F goes to the search box, where Delete edits the text; on the list, Delete asks (No
    // by default, the job named in quotes) and removes the job on Yes.
    void keyboardOnlyFlow() {
        const QString source = m_fixture->Path(u"src"_s);
        UiTest::WriteFile(source + u"/a.txt"_s, "a");
        std::vector<std::unique_ptr<TJob>> jobs;
        jobs.push_back(UiTest::FilesJob(u"Mail"_s));
        jobs.push_back(UiTest::FilesJob(u"My Photos"_s, source, m_fixture->Path(u"dest"_s)));
        TfrmMainVaultora& window = Window(std::move(jobs));
        TJobListView* view = window.JobsView();
        window.activateWindow();
        view->setFocus();
        window.SelectJob(Job(u"Mail"_s));
        QTest::keyClick(view, Qt::Key_Down);
        QCOMPARE(window.SelectedJob(), Job(u"My Photos"_s));

        QTest::keyClick(view, Qt::Key_F5);
        QCOMPARE(Job(u"My Photos"_s)->JobStatus.Load(), jsWaiting);
        window.Tick();
        Job(u"My Photos"_s)->WaitForWorker();
        window.Tick();
        QVERIFY(Job(u"My Photos"_s)->LastJobResult.EndTime != 0);
        QCOMPARE(Job(u"My Photos"_s)->LastJobResult.ErrorsCount.Load(), 0);

        QString shownLog;
        window.DialogRunner = [&shownLog](QDialog& dialog) {
            if (auto* viewer = qobject_cast<TfrmLog*>(&dialog))
                shownLog = viewer->windowTitle();
            return int(QDialog::Rejected);
        };
        QTest::keyClick(view, Qt::Key_L, Qt::ControlModifier);
        QVERIFY2(shownLog.startsWith(u"Log: "_s), qPrintable(shownLog));

        QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), window.SearchBox());
        QTest::keyClicks(window.SearchBox(), u"ab"_s);
        QTest::keyClick(window.SearchBox(), Qt::Key_Home);
        QTest::keyClick(window.SearchBox(), Qt::Key_Delete);
        QCOMPARE(window.SearchBox()->text(), u"b"_s);
        QVERIFY(UiTest::ShownTexts().isEmpty());

        view->setFocus();
        window.SelectJob(Job(u"My Photos"_s));
        QTest::keyClick(view, Qt::Key_Delete); // no answer queued: the default
        QList<TMessageBox::TShown> shown = TMessageBox::TakeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().Text, u"Remove the record for backup job \"My Photos\"?"_s);
        QCOMPARE(shown.first().DefaultButton, QMessageBox::No);
        QCOMPARE(JobNames(*m_context).size(), 2);
        TMessageBox::SetNextAnswer(QMessageBox::Yes);
        TMessageBox::SetNextAnswer(QMessageBox::No);
        QTest::keyClick(view, Qt::Key_Delete);
        shown = TMessageBox::TakeShown();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.at(1).DefaultButton, QMessageBox::No);
        QCOMPARE(JobNames(*m_context), QStringList{u"Mail"_s});
    }

    // A card's Backup link sets its job waiting; the tick starts it unless another process (a
    // command-line run) holds the job, and the job's lock is free again once the run is over.
    void cardLinkAndJobLock() {
        const QString source = m_fixture->Path(u"src"_s);
        UiTest::WriteFile(source + u"/a.txt"_s, "a");
        std::vector<std::unique_ptr<TJob>> jobs;
        jobs.push_back(UiTest::FilesJob(u"A"_s));
        jobs.push_back(UiTest::FilesJob(u"B"_s, source, m_fixture->Path(u"dest"_s)));
        TfrmMainVaultora& window = Window(std::move(jobs));
        TJobListView* view = window.JobsView();
        const TJobCard card = view->CardOfRow(1);
        QTest::mouseMove(view->viewport(), card.Link1Rect().center());
        QCOMPARE(view->HoveredPart(), TJobCard::cpLink1);
        QCOMPARE(view->viewport()->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, card.Link1Rect().center());
        QCOMPARE(window.SelectedJob(), Job(u"B"_s));
        QCOMPARE(Job(u"B"_s)->JobStatus.Load(), jsWaiting);

        TJobLock other;
        QVERIFY(other.TryLock(App().ApplicationDirectory, u"b"_s));
        window.Tick();
        QCOMPARE(Job(u"B"_s)->JobStatus.Load(), jsWaiting);
        QVERIFY(EventTexts(window).contains(
            u"The job \"B\" is running in another process. It starts when that run ends."_s));
        other.Unlock();
        window.Tick();
        QVERIFY(Job(u"B"_s)->JobStatus != jsWaiting);
        Job(u"B"_s)->WaitForWorker();
        window.Tick();
        QVERIFY(other.TryLock(App().ApplicationDirectory, u"B"_s));
        QVERIFY(Job(u"B"_s)->LastJobResult.EndTime != 0);
    }

    void shutdownDialog_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("powerOffAccepted");
        QTest::addColumn<int>("powerOffRequests");
        QTest::addColumn<bool>("closed");
        QTest::newRow("cancelled") << u"Cancel"_s << true << 0 << false;
        QTest::newRow("shut down") << u"Shutdown"_s << true << 1 << true;
        QTest::newRow("shutdown refused") << u"Shutdown"_s << false << 1 << false;
    }

    // The run of the day's last start turns the computer off: once every job is idle the dialog
    // counts down over the scheduler's countdown; Cancel (or a refused power-off) goes back to
    // normal.
    void shutdownDialog() {
        QFETCH(QString, button);
        QFETCH(bool, powerOffAccepted);
        QFETCH(int, powerOffRequests);
        QFETCH(bool, closed);
        const QString source = m_fixture->Path(u"src"_s);
        UiTest::WriteFile(source + u"/a.txt"_s, "a");
        std::vector<std::unique_ptr<TJob>> jobs;
        jobs.push_back(UiTest::FilesJob(u"Nightly"_s, source, m_fixture->Path(u"dest"_s)));
        Weekly(*jobs.back(), 3, u"09:00:00"_s);
        jobs.back()->SchedulingSettings.ShutdownPCInTheEnd = true;
        m_fixture->Clock.Set(QDateTime(QDate(2024, 5, 8), QTime(9, 0, 1)));
        m_fixture->PowerOff.Accept = powerOffAccepted;
        TfrmMainVaultora& window = Window(std::move(jobs));
        QSignalSpy windowClosed(&window, &TfrmMainVaultora::Closed);
        window.StartSchedulerTimer();
        window.Tick();
        QVERIFY(Job(u"Nightly"_s)->IsActive() || Job(u"Nightly"_s)->LastJobResult.EndTime != 0);
        QCOMPARE(window.ShutdownDialog(), nullptr);
        Job(u"Nightly"_s)->WaitForWorker();
        window.Tick();
        TfrmShutdown* dialog = window.ShutdownDialog();
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(!window.SchedulerTimerActive());
        QCOMPARE(dialog->Text(), u"All backup tasks are done. According to the program settings, the computer will "
                                 u"be turned off after 60 seconds."_s);
        QCOMPARE(dialog->windowTitle(), u"Warning!"_s);
        TShutdownCountdown& countdown = m_scheduler->ShutdownCountdown();
        countdown.Second();
        QVERIFY(dialog->Text().contains(u"after 59 seconds"_s));
        QTest::mouseClick(button == u"Cancel"_s ? dialog->CancelButton() : dialog->ShutdownButton(), Qt::LeftButton);
        countdown.Second();
        QCOMPARE(m_fixture->PowerOff.Requests, powerOffRequests);
        QCOMPARE(windowClosed.count(), closed ? 1 : 0);
        QCOMPARE(App().IsQuitting.load(), closed);
        QCOMPARE(dialog->isVisible(), false);
        QCOMPARE(window.SchedulerTimerActive(), !closed);
    }

    void removal_data() {
        QTest::addColumn<QList<int>>("answers"); // Yes = 1, No = 0
        QTest::addColumn<bool>("destinationExists");
        QTest::addColumn<bool>("recordRemoved");
        QTest::addColumn<bool>("folderRemoved");
        QTest::addColumn<QStringList>("boxes");
        const QString confirm = u"Remove the record for backup job \"Photos\"?"_s;
        const QString folder = u"Do you want also to remove the backup folder with all its contents?"_s;
        const QString failed =
            u"Unable to remove the backup folder.\n\nMake sure the storage device is connected. Then remove it "
            u"manually"_s;
        QTest::newRow("not confirmed") << QList<int>{0} << true << false << false << QStringList{confirm};
        QTest::newRow("record only") << QList<int>{1, 0} << true << true << false << QStringList{confirm, folder};
        QTest::newRow("record and folder") << QList<int>{1, 1} << true << true << true << QStringList{confirm, folder};
        QTest::newRow("folder unreachable")
            << QList<int>{1, 1} << false << true << false << QStringList{confirm, folder, failed};
    }

    void removal() {
        QFETCH(QList<int>, answers);
        QFETCH(bool, destinationExists);
        QFETCH(bool, recordRemoved);
        QFETCH(bool, folderRemoved);
        QFETCH(QStringList, boxes);
        const QString destination = m_fixture->Path(u"dest"_s);
        std::vector<std::unique_ptr<TJob>> jobs;
        jobs.push_back(UiTest::FilesJob(u"Photos"_s, QString(), destination));
        jobs.push_back(UiTest::FilesJob(u"Documents"_s, QString(), destination));
        TfrmMainVaultora& window = Window(std::move(jobs));
        UiTest::WriteFile(destination + u"/Photos/2024-05-08 09;00;00 (Full)/a.txt"_s, "a");
        UiTest::WriteFile(destination + u"/Photos.vlj"_s, "stored");
        if (!destinationExists)
            Job(u"Photos"_s)->DestinationSettings.LocalOrExternalDrive.Subfolder = destination + u"-gone"_s;
        window.SelectJob(Job(u"Photos"_s));
        for (int answer : answers)
            TMessageBox::SetNextAnswer(answer ? QMessageBox::Yes : QMessageBox::No);
        window.Actions().Remove();
        QCOMPARE(UiTest::ShownTexts(), boxes);
        const QStringList remaining =
            recordRemoved ? QStringList{u"Documents"_s} : QStringList{u"Photos"_s, u"Documents"_s};
        QCOMPARE(JobNames(*m_context), remaining);
        QCOMPARE(QFileInfo::exists(m_fixture->DataFolder() + u"/Photos.vld"_s), !recordRemoved);
        QCOMPARE(QFileInfo::exists(destination + u"/Photos"_s), !folderRemoved);
        QCOMPARE(QFileInfo::exists(destination + u"/Photos.vlj"_s), !folderRemoved);
        const QStringList events = EventTexts(window);
        QCOMPARE(events.contains(u"Job is removed."_s), recordRemoved);
        QCOMPARE(events.contains(u"The backup folder has been removed successfully on the storage device."_s),
                 folderRemoved);
        if (recordRemoved)
            QCOMPARE(UiTest::ReadFile(m_fixture->DataFolder() + u"/jobslist.vll"_s), QByteArray("\xEF\xBB\xBF"
                                                                                                "Documents\r\n"));
    }

    void quit_data() {
        QTest::addColumn<bool>("activeJob");
        QTest::addColumn<bool>("yes");
        QTest::newRow("idle, no") << false << false;
        QTest::newRow("idle, yes") << false << true;
        QTest::newRow("waiting job, yes") << true << true;
    }

    // Closing only hides the window; Quit asks, and on Yes the window closes for good.
    void quit() {
        QFETCH(bool, activeJob);
        QFETCH(bool, yes);
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
        QSignalSpy closed(&window, &TfrmMainVaultora::Closed);
        window.close();
        QCOMPARE(closed.count(), 0);
        QVERIFY(!App().IsQuitting);
        QVERIFY(window.isHidden() || window.isMinimized());
        if (activeJob)
            Job(u"Photos"_s)->JobStatus = jsWaiting;
        TMessageBox::SetNextAnswer(yes ? QMessageBox::Yes : QMessageBox::No);
        window.Quit();
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"Quit Vaultora?"_s});
        QCOMPARE(App().IsQuitting.load(), yes);
        QCOMPARE(closed.count(), yes ? 1 : 0);
        QVERIFY(!window.JobsAbandoned());
    }

    // The question names running jobs.
    void quitWithRunningJobs() {
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
        Job(u"Photos"_s)->JobStatus = jsPaused;
        TMessageBox::SetNextAnswer(QMessageBox::No);
        window.Quit();
        QCOMPARE(UiTest::ShownTexts(),
                 QStringList{u"Some jobs are currently running.\nDo you want to cancel them and quit?"_s});
        QVERIFY(!App().IsQuitting);
    }

    // Choosing German translates the window at once and is saved; the menu marks it alone.
    void language() {
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
        QMenu* menu = window.LanguageMenu();
        QCOMPARE(menu->actions().size(), 3);
        QVERIFY(menu->actions().at(0)->isChecked());
        const QString english = window.Action(u"actQuit"_s)->text();
        menu->actions().at(1)->trigger();
        QCOMPARE(App().Options.Language.LanguageOfInterface, u"de"_s);
        QVERIFY(window.LanguageMenu()->actions().at(1)->isChecked());
        QVERIFY(!window.LanguageMenu()->actions().at(0)->isChecked());
        QCOMPARE(window.Action(u"actQuit"_s)->text(), TranslateText(u"Quit"_s));
        QVERIFY(window.Action(u"actQuit"_s)->text() != english);
        QCOMPARE(window.HeaderLabel()->text(), TranslateText(u"Jobs"_s));
        TOptions saved;
        QVERIFY(LoadOptions(m_fixture->DataFolder() + u"/options.vlo"_s, saved));
        QCOMPARE(saved.Language.LanguageOfInterface, u"de"_s);
        // Message boxes carry translated titles.
        window.SelectJob(Job(u"Photos"_s));
        window.Actions().Remove();
        const QList<TMessageBox::TShown> shown = TMessageBox::TakeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().Title, TranslateText(u"Confirm"_s));
        QVERIFY(shown.first().Title != u"Confirm"_s);
        QCOMPARE(shown.first().Text,
                 TranslateText(u"Remove the record for backup job %s?"_s).replace(u"%s"_s, u"\"Photos\""_s));
        window.SelectLanguage(0);
        QCOMPARE(window.Action(u"actQuit"_s)->text(), english);
    }

    // The view, the panels and the geometry come back in the next window.
    void windowState() {
        {
            TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
            window.Action(u"actViewTable"_s)->trigger();
            window.Action(u"actEvents"_s)->trigger();
            window.resize(900, 640);
            window.SaveWindowState();
            QSettings settings(QSettings::NativeFormat, QSettings::UserScope, u"Vaultora"_s, u"Vaultora"_s);
            QCOMPARE(settings.value(u"view_as_cards"_s).toInt(), 0);
            QCOMPARE(settings.value(u"events_visible"_s).toInt(), 0);
            QCOMPARE(settings.value(u"filters_visible"_s).toInt(), 1);
            QCOMPARE(settings.value(u"window_w"_s).toInt(), 900);
            QCOMPARE(settings.value(u"window_m"_s).toInt(), 0);
        }
        m_window = std::make_unique<TfrmMainVaultora>(*m_context, *m_scheduler);
        m_window->AfterStart();
        QVERIFY(!m_window->JobsView()->IsCardView());
        QVERIFY(m_window->Action(u"actViewTable"_s)->isChecked());
        QVERIFY(!m_window->Action(u"actEvents"_s)->isChecked());
        QVERIFY(m_window->Action(u"actFilters"_s)->isChecked());
        QCOMPARE(m_window->width(), 900);
        QVERIFY(!m_window->JobsView()->header()->isHidden());
    }

    void productSite_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("path");
        QTest::newRow("user guide") << u"actUserGuide"_s << u"de"_s << u"/manual/index.html"_s;
        QTest::newRow("support, English") << u"actSupport"_s << u"en"_s << u"/support.html"_s;
        QTest::newRow("support, German") << u"actSupport"_s << u"de"_s << u"/de/support.html"_s;
        QTest::newRow("contact, French") << u"actContactUs"_s << u"fr"_s << u"/fr/contact.html"_s;
    }

    void productSite() {
        QFETCH(QString, action);
        QFETCH(QString, language);
        QFETCH(QString, path);
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
        App().Options.Language.LanguageOfInterface = language;
        QList<QUrl> opened;
        TProductSite::SetOpener([&opened](const QUrl& url) { opened.append(url); });
        TProductSite::SetAddress(u"https://site.test/"_s);
        window.Action(action)->trigger();
        QCOMPARE(opened, QList<QUrl>{QUrl(u"https://site.test"_s + path)});
        TProductSite::SetOpener([](const QUrl&) {});
    }

    void newJob_data() {
        QTest::addColumn<bool>("withWizard");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("status");
        QTest::newRow("done") << true << int(TJobWizard::wrDone) << u" Holiday "_s << 2 << int(jsNone);
        QTest::newRow("save and run") << true << int(TJobWizard::wrDoneAndRun) << u"Holiday"_s << 2 << int(jsWaiting);
        QTest::newRow("wizard cancelled") << true << int(TJobWizard::wrCancelled) << u"Holiday"_s << 1 << 0;
        QTest::newRow("taken name") << true << int(TJobWizard::wrDone) << u"PHOTOS"_s << 1 << 0;
        QTest::newRow("no wizard yet") << false << int(TJobWizard::wrDone) << u"Holiday"_s << 1 << 0;
    }

    // New Job: the kind, the name, the kind's wizard; a job made there is saved and logged.
    void newJob() {
        QFETCH(bool, withWizard);
        QFETCH(int, answer);
        QFETCH(QString, typed);
        QFETCH(int, jobs);
        QFETCH(int, status);
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
        TFakeWizard wizard;
        wizard.Answer = TJobWizard::TResult(answer);
        wizard.Source = m_fixture->Path(u"src"_s);
        if (withWizard)
            window.SetWizard(TJobKind::FilesAndFolders, &wizard);
        QStringList prompts;
        window.DialogRunner = [&prompts](QDialog& dialog) {
            auto* chooser = qobject_cast<TfrmSourceType*>(&dialog);
            if (!chooser)
                return int(QDialog::Rejected);
            chooser->ShowDescription(1);
            prompts.append(chooser->PromptText());
            return 1;
        };
        TInputBox::SetNextAnswer(typed);
        window.Actions().NewJob();
        QCOMPARE(prompts, QStringList{u"Files and Folders Backup\nBackup selected files and folders. Incremental, "
                                      u"synchronizing and other backup methods are supported."_s});
        QCOMPARE(m_context->Jobs().Count(), jobs);
        const QStringList shown = UiTest::ShownTexts();
        if (typed == u"PHOTOS"_s)
            QCOMPARE(shown, QStringList{u"Job \"PHOTOS\" already exists. Please specify another name."_s});
        if (!withWizard)
            QVERIFY(shown.value(0).contains(u"\"vaultora-cli new\" creates files-and-folders jobs"_s));
        if (jobs == 1)
            return;
        QCOMPARE(wizard.LastTitle, u" New Job - Holiday"_s);
        QCOMPARE(wizard.LastMode, TJobWizard::wmNew);
        auto* created = dynamic_cast<TJob_FilesAndFolders*>(Job(u"Holiday"_s));
        QVERIFY(created);
        QCOMPARE(created->Settings.Sources.List, QStringList{wizard.Source + u"/*"_s});
        QCOMPARE(int(created->JobStatus.Load()), status);
        QVERIFY(EventTexts(window).contains(u"Created new job: \"Holiday\"."_s));
        QCOMPARE(UiTest::ReadFile(m_fixture->DataFolder() + u"/jobslist.vll"_s),
                 QByteArray("\xEF\xBB\xBFPhotos\r\nHoliday\r\n"));
        TJob_FilesAndFolders reloaded(u"Holiday"_s);
        QVERIFY(reloaded.LoadLocalJobFile(m_fixture->DataFolder() + u"/Holiday.vld"_s));
        QCOMPARE(reloaded.Settings.Sources.List, created->Settings.Sources.List);
        // The tick took the job the window saved as it is: a job set waiting has started.
        QCOMPARE(Job(u"Holiday"_s), created);
        QCOMPARE(created->LastJobResult.StartTime != 0, status == jsWaiting);
        created->WaitForWorker();
    }

    // A job file that another process (vaultora-cli schedule) rewrote is read again at the next
    // tick, and the list shows the new settings.
    void jobFileChangedElsewhere() {
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s, u"Documents"_s});
        window.SelectJob(Job(u"Documents"_s));
        auto changed = UiTest::FilesJob(u"Documents"_s);
        Weekly(*changed, 3, u"10:00:00"_s);
        const QString path = m_fixture->DataFolder() + u"/Documents.vld"_s;
        QVERIFY(changed->SaveLocalJobFile(path));
        // A modification time of its own, whatever the file system's time resolution.
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.setFileTime(QDateTime(QDate(2026, 1, 5), QTime(9, 30)), QFileDevice::FileModificationTime));
        saved.close();
        window.SelectFilter(jfToday);
        QCOMPARE(VisibleNames(window), QStringList());
        window.Tick();
        QCOMPARE(Job(u"Documents"_s)->SchedulingSettings.SchedulingType, stDaysOfWeek);
        QCOMPARE(VisibleNames(window), QStringList{u"Documents"_s});
        QCOMPARE(window.SelectedJob(), Job(u"Documents"_s));
    }

    // Duplicate suggests "name (Duplicated)" and gives the wizard the job to start from.
    void duplicate() {
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
        TFakeWizard wizard;
        wizard.Source = m_fixture->Path(u"src"_s);
        window.SetWizard(TJobKind::FilesAndFolders, &wizard);
        window.SelectJob(Job(u"Photos"_s));
        TInputBox::SetNextAnswer(u"Photos (Duplicated)"_s);
        window.Actions().Duplicate();
        QCOMPARE(TInputBox::TakePrompts(), QStringList{u"Duplicate name:"_s});
        QCOMPARE(wizard.LastMode, TJobWizard::wmDuplicate);
        QCOMPARE(wizard.LastSource, Job(u"Photos"_s));
        QCOMPARE(JobNames(*m_context), (QStringList{u"Photos"_s, u"Photos (Duplicated)"_s}));
    }

    // Without a wizard, Properties shows the job's settings as stored.
    void propertiesWithoutWizard() {
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
        window.SelectJob(Job(u"Photos"_s));
        QString title;
        QStringList topLevel;
        window.DialogRunner = [&](QDialog& dialog) {
            auto* properties = qobject_cast<TfrmJobProperties*>(&dialog);
            if (properties) {
                title = properties->windowTitle();
                for (int i = 0; i < properties->Tree()->topLevelItemCount(); ++i)
                    topLevel.append(properties->Tree()->topLevelItem(i)->text(0));
            }
            return int(QDialog::Rejected);
        };
        window.Actions().Properties();
        QCOMPARE(title, u"Properties - Photos"_s);
        QVERIFY(topLevel.contains(u"DestinationSettings"_s));
    }

    void logs_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("logExists");
        QTest::addColumn<QString>("title"); // of the viewer; empty: a box
        QTest::newRow("last log") << u"actViewLog"_s << true << u"Log: 2024-03-05 07:08:09"_s;
        QTest::newRow("last log gone") << u"actViewLog"_s << false << QString();
        QTest::newRow("history") << u"actHistory"_s << false << u"History"_s;
    }

    void logs() {
        QFETCH(QString, action);
        QFETCH(bool, logExists);
        QFETCH(QString, title);
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
        TJob* job = Job(u"Photos"_s);
        job->LogList = {u"2024-03-05 07;08;09"_s};
        job->BackupHistory = {u"2024-03-05 07:08:09: Starting the backup."_s};
        const QString log = App().Options.Logging.PathForLogFiles + u"/Photos/2024-03-05 07;08;09.txt"_s;
        if (logExists)
            UiTest::WriteFile(log, "07:08:09: ERROR: x\r\n");
        window.SelectJob(job);
        QString shownTitle;
        window.DialogRunner = [&shownTitle](QDialog& dialog) {
            if (auto* viewer = qobject_cast<TfrmLog*>(&dialog))
                shownTitle = viewer->windowTitle();
            return int(QDialog::Rejected);
        };
        window.Action(action)->trigger();
        QCOMPARE(shownTitle, title);
        QCOMPARE(UiTest::ShownTexts(),
                 title.isEmpty() ? QStringList{u"Log file does not exist: "_s + log} : QStringList());
        // The drop-down lists the stored logs with colons.
        window.LogMenu()->popup(QPoint(0, 0));
        QCOMPARE(window.LogMenu()->actions().size(), 1);
        QCOMPARE(window.LogMenu()->actions().first()->text(), u"2024-03-05 07:08:09"_s);
        window.LogMenu()->hide();
    }

    // Tools > FTP Client opens the client standalone; the account dialog's "Proxy Settings..."
    // goes through the window's Options flow on the proxy page.
    void ftpClientAndProxySettings() {
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
        QString title;
        int accountIndex = 0;
        int optionsPage = -1;
        window.DialogRunner = [&](QDialog& dialog) {
            if (auto* client = qobject_cast<TfrmFTPClient*>(&dialog)) {
                title = client->windowTitle();
                accountIndex = client->InitialFTPAccountInd;
            }
            if (auto* options = qobject_cast<TfrmOptions*>(&dialog))
                optionsPage = options->Tabs()->currentIndex();
            return int(QDialog::Rejected);
        };
        window.Action(u"actFtpClient"_s)->trigger();
        QCOMPARE(title, u"FTP Client"_s);
        QCOMPARE(accountIndex, -1);
        TFrmFTPSettings settings(&window);
        settings.OpenProxySettings();
        QCOMPARE(optionsPage, 5);
    }

    // "Save to file..." writes the visible events.
    void saveEventsLog() {
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
        AddToEventsLog(u"Backup jobs are loaded."_s);
        window.Tick();
        const QString path = m_fixture->Path(u"events.txt"_s);
        TFileDialog::SetNextFileName(path);
        window.SaveEventsLog();
        const QByteArray saved = UiTest::ReadFile(path);
        QVERIFY(saved.startsWith("\xEF\xBB\xBF"));
        QVERIFY(saved.contains(": Backup jobs are loaded.\r\n"));
    }

    void firstShow_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("fileDialogs");
        const QStringList none;
        QTest::newRow("/backup names a job") << QStringList{u"/backup"_s, u"Photos"_s} << int(jsWaiting) << none;
        QTest::newRow("names match exactly") << QStringList{u"-BACKUP"_s, u"photos"_s} << int(jsNone) << none;
        QTest::newRow("/restore asks for the output folder")
            << QStringList{u"/restore"_s, u"Photos"_s} << int(jsNone) << QStringList{u"Choose an output directory"_s};
        QTest::newRow("no switch") << QStringList{} << int(jsNone) << none;
    }

    // The first show runs the command line's job action, starts the scheduler, and shows no
    // Welcome dialog while there are jobs.
    void firstShow() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, fileDialogs);
        std::vector<std::unique_ptr<TJob>> jobs;
        jobs.push_back(UiTest::FilesJob(u"Photos"_s));
        TfrmMainVaultora& window = Window(std::move(jobs), arguments);
        QTRY_VERIFY(window.FirstShowDone() && window.SchedulerTimerActive());
        m_scheduler->Stop();
        QCOMPARE(int(Job(u"Photos"_s)->JobStatus.Load()), status);
        QCOMPARE(TFileDialog::TakeCaptions(), fileDialogs);
        QCOMPARE(window.WelcomeDialog(), nullptr);
    }

    void kindChooser_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("files and folders") << 1
                                           << u"Files and Folders Backup\nBackup selected files and folders. "
                                              u"Incremental, synchronizing and other backup methods are supported."_s;
        QTest::newRow("drive image") << 2
                                     << u"Drive Image Backup\nBackup the operating system with all the settings, "
                                        u"files, folders and applications."_s;
        QTest::newRow("application data") << 3
                                          << u"Application Data Backup\nBackup the settings and data of selected "
                                             u"applications. Backup the game saves."_s;
    }

    // The prompt describes the kind under the pointer; a kind button closes with its number.
    void kindChooser() {
        QFETCH(int, kind);
        QFETCH(QString, prompt);
        TfrmSourceType chooser;
        chooser.show();
        QCOMPARE(chooser.windowTitle(), u" Choose a backup type."_s);
        QCOMPARE(chooser.PromptText(), u"Choose a backup type."_s);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(chooser.KindButton(kind), &enter);
        QCOMPARE(chooser.PromptText(), prompt);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(chooser.KindButton(kind), &leave);
        QCOMPARE(chooser.PromptText(), u"Choose a backup type."_s);
        QTest::mouseClick(chooser.KindButton(kind), Qt::LeftButton);
        QCOMPARE(chooser.result(), kind);
        chooser.show();
        QTest::mouseClick(chooser.CloseButton(), Qt::LeftButton);
        QCOMPARE(chooser.result(), 0);
    }

    // "/remove" removes the named job with its backup folder at the first show.
    void firstShowRemove() {
        const QString destination = m_fixture->Path(u"dest"_s);
        UiTest::WriteFile(destination + u"/Photos/x/a.txt"_s, "a");
        UiTest::WriteFile(destination + u"/Photos.vlj"_s, "stored");
        std::vector<std::unique_ptr<TJob>> jobs;
        jobs.push_back(UiTest::FilesJob(u"Photos"_s, QString(), destination));
        m_context = m_fixture->StartContext({u"/remove"_s, u"Photos"_s});
        for (auto& job : jobs)
            m_context->Jobs().Append(std::move(job));
        m_scheduler = m_fixture->Scheduler(*m_context);
        m_window = std::make_unique<TfrmMainVaultora>(*m_context, *m_scheduler);
        m_window->AfterStart();
        m_window->RunFirstShowActions();
        QCOMPARE(m_context->Jobs().Count(), 0);
        QVERIFY(!QFileInfo::exists(destination + u"/Photos"_s));
        const QStringList events = EventTexts(*m_window);
        QVERIFY(events.contains(u"Job is removed."_s));
        QVERIFY(events.contains(u"The backup folder has been removed successfully on the storage device."_s));
    }

    // No jobs: the Welcome dialog, whose check box keeps it away for good.
    void welcome() {
        TfrmMainVaultora& window = Window(QStringList{});
        QTRY_VERIFY(window.WelcomeDialog() && window.WelcomeDialog()->isVisible());
        QVERIFY(window.EmptyPanel()->isVisible());
        window.WelcomeDialog()->DoNotShowAgainBox()->setChecked(true);
        window.WelcomeDialog()->close();
        QVERIFY(QFileInfo(m_fixture->DataFolder() + u"/~dsdd"_s).isDir());
        QVERIFY(!m_context->ShouldShowWelcome());
    }

    // The toolbar follows the selected job: idle jobs only, and only a visible selection counts.
    void toolbarState() {
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s, u"Documents"_s});
        window.SelectJob(Job(u"Photos"_s));
        QVERIFY(window.Action(u"actBackup"_s)->isEnabled());
        QVERIFY(!window.Action(u"actPause"_s)->isEnabled());
        window.Search(u"doc"_s);
        QCOMPARE(window.SelectedJob(), nullptr);
        QVERIFY(!window.Action(u"actBackup"_s)->isEnabled());
        QVERIFY(!window.Action(u"actRemove"_s)->isEnabled());
    }

    // The toolbar's icons come by their freedesktop names; on a desktop without an icon theme
    // (as here) the program's own pictures stand in, so no button is left without one.
    void toolbarIcons() {
        TfrmMainVaultora& window = Window(QStringList{u"Photos"_s});
        const QList<std::pair<const char*, const char*>> icons{{"actNewJob", "document-new"},
                                                               {"actProperties", "document-properties"},
                                                               {"actOpen", "document-open"},
                                                               {"actDuplicate", "edit-copy"},
                                                               {"actRename", "edit-rename"},
                                                               {"actRemove", "edit-delete"},
                                                               {"actBackup", "media-playback-start"},
                                                               {"actRestore", "document-revert"},
                                                               {"actHistory", "view-history"},
                                                               {"actViewLog", "text-x-generic"},
                                                               {"actOptions", "configure"}};
        for (const auto& [action, name] : icons) {
            const QIcon icon = window.Action(QString::fromLatin1(action))->icon();
            QCOMPARE(icon.name(), QString::fromLatin1(name));
            const QImage image = icon.pixmap(24, 24).toImage();
            QVERIFY2(!image.isNull(), action);
            bool drawn = false;
            for (int y = 0; y < image.height() && !drawn; ++y)
                for (int x = 0; x < image.width() && !drawn; ++x)
                    drawn = qAlpha(image.pixel(x, y)) > 0;
            QVERIFY2(drawn, action);
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
