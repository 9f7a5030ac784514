#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The job kind chooser of New Job: three large buttons and Close. The result is 1 (files and
// folders), 2 (drive image), 3 (application data) or 0 (Close). While the pointer rests on a kind
// button the prompt describes that kind.
class TfrmSourceType : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSourceType(QWidget* parent = nullptr);

    QString PromptText() const;
    QPushButton* KindButton(int kind) const;
    QPushButton* CloseButton() const { return m_close; }
    // The prompt while the pointer rests on a kind button (0: none).
    void ShowDescription(int kind);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Retranslate();
    static QString Caption(int kind);
    static QString Description(int kind);

    QLabel* m_prompt;
    QPushButton* m_kinds[3];
    QPushButton* m_close;
};
