#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// "View as list": the chosen sources as plain text, one path per line.
class TfrmListViewer : public QDialog {
    Q_OBJECT
public:
    explicit TfrmListViewer(QWidget* parent = nullptr);

    // Shows the source entries: folders ("path/*") without their "/*".
    void ShowSources(const QStringList& sources);
    QString Text() const;

    QPlainTextEdit* TextBox() const { return m_text; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Retranslate();

    QLabel* m_label;
    QPlainTextEdit* m_text;
    QPushButton* m_ok;
};
