#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;

// The restore dialog of an application data job: while the backup is being read it shows a
// loading panel; then the user ticks the applications to restore. "OK" needs at least one ticked.
// Shown without waiting, so the window goes on repainting while the destination is read.
class TfrmRestoreList_AppsData : public QDialog {
    Q_OBJECT
public:
    explicit TfrmRestoreList_AppsData(QWidget* parent = nullptr);

    // Shows the dialog with the loading panel ("Loading the list of backups..."), the wait cursor
    // and OK disabled.
    void ShowLoading();
    // Fills the check list with the applications the backup holds (none ticked) and lets the user
    // choose.
    void ShowChoice(const QStringList& names);
    bool IsLoading() const;
    // The ticked names in list order.
    QStringList Ticked() const;
    // Closes the dialog without a choice and without signals.
    void CloseWithoutChoice();

    QListWidget* List() const { return m_list; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }
    QLabel* Prompt() const { return m_prompt; }
    QLabel* LoadingLabel() const { return m_loading; }

    void accept() override;
    void reject() override;

Q_SIGNALS:
    void Chosen(const QStringList& names);
    // Cancel while choosing.
    void Cancelled();
    // Cancel or close while the backup is being read: the dialog stays until the reading ends.
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
