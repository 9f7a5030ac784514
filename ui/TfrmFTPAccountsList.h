#pragma once

#include <QDialog>

#include <functional>

class QListWidget;
class QPushButton;

// "FTP Accounts": the accounts of the options in their order, with "Add...", "Remove",
// "Edit..." and "Close". Every change is saved to the options file at once.
class TfrmFTPAccountsList : public QDialog {
    Q_OBJECT
public:
    explicit TfrmFTPAccountsList(QWidget* parent = nullptr);

    // Fills the list from the options.
    void Refill();
    void Add();
    void Edit();
    void Remove();

    // The account operations the wizards' "Add...", "Edit..." and "Remove" share. runner runs
    // the FTP settings dialog (tests fill it in); empty runs it modally.
    using TDialogRunner = std::function<int(QDialog&)>;
    // Adds an account through a cleared dialog; its index, or -1 when cancelled.
    static int AddAccount(QWidget* parent, const TDialogRunner& runner);
    // Edits the account at index; false when cancelled.
    static bool EditAccount(QWidget* parent, int index, const TDialogRunner& runner);
    // Asks, then removes the account at index. The index to select afterwards (-1 for none), or
    // -2 when the user kept it.
    static int RemoveAccount(QWidget* parent, int index);

    TDialogRunner DialogRunner;

    QListWidget* List() const { return m_list; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Retranslate();
    void UpdateButtons();

    QListWidget* m_list;
    QPushButton* m_add;
    QPushButton* m_remove;
    QPushButton* m_edit;
    QPushButton* m_close;
};
