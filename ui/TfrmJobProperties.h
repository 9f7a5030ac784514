#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;
class TJob;

// A job's settings, read-only, for as long as the kind's wizard is not part of the program:
// every field of the job with its value (passwords only as whether one is set).
class TfrmJobProperties : public QDialog {
    Q_OBJECT
public:
    explicit TfrmJobProperties(QWidget* parent = nullptr);

    void ShowJob(const TJob& job);
    QTreeWidget* Tree() const { return m_tree; }

private:
    QLabel* m_notice;
    QTreeWidget* m_tree;
    QPushButton* m_close;
};
