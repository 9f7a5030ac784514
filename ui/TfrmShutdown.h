#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// "Warning!": the computer is about to be turned off after the day's last job. It shows the text
// of the countdown it is given; "Shutdown" and "Cancel" (closing the dialog counts as Cancel) are
// the countdown's to act on.
class TfrmShutdown : public QDialog {
    Q_OBJECT
public:
    explicit TfrmShutdown(QWidget* parent = nullptr);

    void SetText(const QString& text);
    QString Text() const;
    QPushButton* ShutdownButton() const { return m_shutdown; }
    QPushButton* CancelButton() const { return m_cancel; }

    void reject() override;

Q_SIGNALS:
    void ShutdownClicked();
    void CancelClicked();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Retranslate();

    QLabel* m_text;
    QPushButton* m_shutdown;
    QPushButton* m_cancel;
};
