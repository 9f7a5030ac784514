#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

// The Welcome dialog of a first start without jobs: New Job, Open Job and User Guide, and "Do not
// show this dialog again". Not modal.
class TfrmWelcome : public QDialog {
    Q_OBJECT
public:
    explicit TfrmWelcome(QWidget* parent = nullptr);

    bool DoNotShowAgain() const;
    QCheckBox* DoNotShowAgainBox() const { return m_doNotShow; }
    QPushButton* NewJobButton() const { return m_newJob; }
    QPushButton* OpenJobButton() const { return m_openJob; }
    QPushButton* UserGuideButton() const { return m_userGuide; }

Q_SIGNALS:
    void NewJobClicked();
    void OpenJobClicked();
    void UserGuideClicked();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Retranslate();

    QLabel* m_text;
    QPushButton* m_newJob;
    QPushButton* m_openJob;
    QPushButton* m_userGuide;
    QPushButton* m_close;
    QCheckBox* m_doNotShow;
};
