// The log viewer: its counters, the "next" buttons with their wrap-around, the caption of a log
// and of a history, "Font..." and "Save As...".

#include "UiTestSupport.h"

#include "ui/TfrmLog.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>

using namespace Qt::Literals::StringLiterals;

class TestLogViewer : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<UiTest::TFixture> m_fixture;

    // A log file of the given lines, as the program writes them (byte-order mark, CR LF).
    QString Log(const QString& name, const QStringList& lines) {
        const QString path = m_fixture->Path(name);
        QByteArray data("\xEF\xBB\xBF");
        for (const QString& line : lines)
            data += line.toUtf8() + "\r\n";
        UiTest::WriteFile(path, data);
        return path;
    }

    const QStringList m_lines{
        u"07:08:09: Starting the backup."_s,                                // 0
        u"07:08:10: ERROR: Cannot open file \"a\""_s,                       // 1
        u"07:08:11: WARNING: The destination is slow."_s,                   // 2
        u"-----------------------------"_s,                                 // 3
        u"07:08:12: ERROR: Unable to copy. WARNING: counted as an error"_s, // 4
        u"07:08:13: WARNING: Skipped a locked file."_s,                     // 5
        u"07:08:14: error: lower case is no marker"_s,                      // 6
        u"07:08:15: Backup job \"Docs\" is finished with errors."_s,        // 7
    };

private Q_SLOTS:
    void init() { m_fixture = std::make_unique<UiTest::TFixture>(); }
    void cleanup() { m_fixture.reset(); }

    // A line holding both markers counts as an error; markers are case-sensitive.
    void counts() {
        TfrmLog viewer;
        QVERIFY(viewer.Load(Log(u"2024-03-05 07;08;09.txt"_s, m_lines), true));
        QCOMPARE(viewer.ErrorCount(), 2);
        QCOMPARE(viewer.WarningCount(), 2);
        QCOMPARE(viewer.ErrorsLabel()->text(), u"Errors: 2"_s);
        QCOMPARE(viewer.WarningsLabel()->text(), u"Warnings: 2"_s);
        QVERIFY(viewer.NextErrorButton()->isEnabled());
        QCOMPARE(viewer.TextArea()->document()->blockCount(), int(m_lines.size()));
        QCOMPARE(viewer.CurrentLine(), 0);
        QVERIFY(!viewer.TextArea()->textCursor().hasSelection());
        QCOMPARE(viewer.windowTitle(), u"Log: 2024-03-05 07:08:09"_s);
        QVERIFY(!viewer.CounterBar()->isHidden());
    }

    // A log without errors: the count 0 and its button disabled.
    void noErrors() {
        TfrmLog viewer;
        viewer.Load(Log(u"clean.txt"_s, {m_lines.at(0), m_lines.at(2)}), true);
        QCOMPARE(viewer.ErrorCount(), 0);
        QCOMPARE(viewer.ErrorsLabel()->text(), u"Errors: 0"_s);
        QVERIFY(!viewer.NextErrorButton()->isEnabled());
        QVERIFY(viewer.NextWarningButton()->isEnabled());
        QVERIFY(!viewer.NextError());
        QCOMPARE(viewer.CurrentLine(), 0);
    }

    void next_data() {
        QTest::addColumn<bool>("errors");
        QTest::addColumn<int>("start");
        QTest::addColumn<QList<int>>("lines");
        QTest::newRow("errors from the top") << true << 0 << QList<int>{1, 4, 1, 4};
        QTest::newRow("warnings from the top") << false << 0 << QList<int>{2, 5, 2};
        QTest::newRow("error on the last error line wraps") << true << 4 << QList<int>{1};
        QTest::newRow("from the last line") << true << 7 << QList<int>{1, 4};
        QTest::newRow("warning between them") << false << 3 << QList<int>{5, 2};
    }

    // "next" selects the whole next marked line after the caret's line, wrapping to the top.
    void next() {
        QFETCH(bool, errors);
        QFETCH(int, start);
        QFETCH(QList<int>, lines);
        TfrmLog viewer;
        viewer.Load(Log(u"run.txt"_s, m_lines), true);
        QTextCursor cursor(viewer.TextArea()->document()->findBlockByNumber(start));
        viewer.TextArea()->setTextCursor(cursor);
        for (int expected : lines) {
            QTest::mouseClick(errors ? viewer.NextErrorButton() : viewer.NextWarningButton(), Qt::LeftButton);
            QCOMPARE(viewer.CurrentLine(), expected);
            QCOMPARE(viewer.TextArea()->textCursor().selectedText(), m_lines.at(expected));
        }
    }

    // A history: "History" whatever the file's name, and no counters.
    void history() {
        TfrmLog viewer;
        viewer.Load(Log(u"history - Docs.txt"_s, {u"2024-03-05 07:08:09: ERROR: x"_s}), false);
        QCOMPARE(viewer.windowTitle(), u"History"_s);
        QVERIFY(viewer.CounterBar()->isHidden());
    }

    void saveAsAndFont() {
        TfrmLog viewer;
        viewer.Load(Log(u"run.txt"_s, m_lines), true);
        const QString target = m_fixture->Path(u"copy.txt"_s);
        TFileDialog::SetNextFileName(target);
        viewer.SaveAs();
        QByteArray expected("\xEF\xBB\xBF");
        for (const QString& line : m_lines)
            expected += line.toUtf8() + "\r\n";
        QCOMPARE(UiTest::ReadFile(target), expected);
        QFont font(u"Monospace"_s, 15);
        TFontDialog::SetNextFont(font);
        viewer.ChooseFont();
        QCOMPARE(viewer.TextArea()->font().pointSize(), 15);
        // Cancelled: nothing changes.
        viewer.ChooseFont();
        QCOMPARE(viewer.TextArea()->font().pointSize(), 15);
    }

    void find() {
        TfrmLog viewer;
        viewer.Load(Log(u"run.txt"_s, m_lines), true);
        TInputBox::SetNextAnswer(u"locked"_s);
        viewer.Find();
        QCOMPARE(viewer.CurrentLine(), 5);
        QCOMPARE(viewer.TextArea()->textCursor().selectedText(), u"locked"_s);
        TInputBox::SetNextAnswer(u"no such text"_s);
        viewer.Find();
        QCOMPARE(UiTest::ShownTexts(), QStringList{u"Cannot find \"no such text\""_s});
    }
};

QTEST_MAIN(TestLogViewer)
#include "tst_logviewer.moc"
