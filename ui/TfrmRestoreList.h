#pragma once

#include <QDialog>

class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;

// The restore-point dialog: while the list of backups is being read it shows a loading panel
// over the list; then the user picks a restore point. Shown without waiting, so the window goes
// on repainting while the destination is read.
class TfrmRestoreList : public QDialog {
    Q_OBJECT
public:
    explicit TfrmRestoreList(QWidget* parent = nullptr);

    // Shows the dialog with the loading panel ("Loading the list of backups..."), the wait cursor
    // and OK disabled.
    void ShowLoading();
    // Fills the list (oldest first) and lets the user choose.
    void ShowChoice(const QStringList& points);
    bool IsLoading() const;
    int SelectedIndex() const;
    // Closes the dialog without a choice and without signals (the reading failed or was
    // cancelled, or there is nothing to choose).
    void CloseWithoutChoice();

    QListWidget* List() const { return m_list; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }
    QLabel* LoadingLabel() const { return m_loading; }

    void accept() override;
    void reject() override;

Q_SIGNALS:
    void Chosen(int index);
    // Cancel while choosing.
    void Cancelled();
    // Cancel or close while the list is being read: the dialog stays until the reading ends.
    void CancelWhileLoading();

private:
    void Retranslate();
    void UpdateOk();
    void EndShowing();

    QStackedWidget* m_panels;
    QLabel* m_prompt;
    QLabel* m_loading;
    QListWidget* m_list;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};
