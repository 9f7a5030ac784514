#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class TLoopbackCodeListener;

// The wait of an interactive cloud sign-in: the browser shows the service's page, and the
// service sends the browser back to a listener on 127.0.0.1 with the code. The dialog only
// waits (the event loop keeps serving the listener); the user may give up, or switch to copying
// the code by hand where the browser runs on another computer.
class TAuthWaitDlg : public QDialog {
    Q_OBJECT

public:
    // What Wait() returns when the user chose to paste a code instead.
    static QString PasteResult() { return QStringLiteral("paste"); }

    // Listens for the redirect of the sign-in at url on 127.0.0.1:port, opens url in the
    // browser and waits. Returns the code, "fail" (the service sent no code, e.g. access denied),
    // "cancel", or PasteResult(); an empty result with error set when the port cannot be bound.
    static QString Wait(QWidget* parent, quint16 port, const QString& url, QString* error);

    TAuthWaitDlg(QWidget* parent, const QString& state);
    ~TAuthWaitDlg() override;

    bool Listen(quint16 port, QString* error);
    QString Result() const { return FResult; }

    QLabel* MainLbl = nullptr;
    QPushButton* PasteBtn = nullptr;
    QPushButton* CancelBtn = nullptr;

private:
    void OnFinished(const QString& result);

    TLoopbackCodeListener* FListener = nullptr;
    QString FState;
    QString FResult;
};
