#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

// The log viewer: one text file, read-only, without word wrap. A job's run log comes with a bar
// that counts its error and warning lines and jumps from one to the next; a history comes
// without it.
class TfrmLog : public QDialog {
    Q_OBJECT
public:
    explicit TfrmLog(QWidget* parent = nullptr);

    // Loads the file and shows the viewer modally; returns when the user closes it.
    void OpenReport(const QString& path, bool ShowErrorsWarningsControls);
    // The loading part of OpenReport, without showing the viewer. False when the file cannot be
    // read (the text area then says why).
    bool Load(const QString& path, bool ShowErrorsWarningsControls);

    int ErrorCount() const { return m_errors; }
    int WarningCount() const { return m_warnings; }
    QString LogFileName() const { return m_logFileName; }

    // Selects the next error (warning) line after the caret's line, wrapping to the first line;
    // false when there is none. Lines are told apart as they are counted.
    bool NextError();
    bool NextWarning();
    // The line of the caret (0-based).
    int CurrentLine() const;

    // "Font...", "Save As..." and "Find...".
    void ChooseFont();
    void SaveAs();
    void Find();

    QPlainTextEdit* TextArea() const { return m_text; }
    QWidget* CounterBar() const { return m_counterBar; }
    QLabel* ErrorsLabel() const { return m_errorsLabel; }
    QLabel* WarningsLabel() const { return m_warningsLabel; }
    QPushButton* NextErrorButton() const { return m_nextError; }
    QPushButton* NextWarningButton() const { return m_nextWarning; }

private:
    bool NextLineWith(const QString& marker, const QString& excluded);
    bool FindFrom(const QString& text, int startLine);
    void Retranslate();

    QPlainTextEdit* m_text;
    QWidget* m_counterBar;
    QLabel* m_errorsLabel;
    QLabel* m_warningsLabel;
    QPushButton* m_nextError;
    QPushButton* m_nextWarning;
    QPushButton* m_find;
    QPushButton* m_font;
    QPushButton* m_saveAs;
    QString m_logFileName;
    QString m_lastSearch;
    int m_errors = 0;
    int m_warnings = 0;
};
