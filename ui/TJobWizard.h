#pragma once

#include <QString>

class QWidget;
class TJob;

// A job kind's wizard as the main window uses it for New Job, Duplicate and Properties. The
// wizards come with their own issues and register here (TfrmMainVaultora::SetWizard); a kind
// without one is created with vaultora-cli meanwhile.
class TJobWizard {
public:
    enum TMode { wmNew, wmDuplicate, wmProperties };
    enum TResult { wrCancelled, wrDone, wrDoneAndRun };

    virtual ~TJobWizard() = default;

    // Shows the wizard modally over parent, titled title, and fills job's settings: a new empty
    // job of the kind for wmNew and wmDuplicate, a scratch copy for wmProperties. source is the job
    // to start from (Duplicate, Properties), or null. wrDoneAndRun is the "Save && Run" command.
    virtual TResult Run(QWidget* parent, TMode mode, const QString& title, TJob& job, const TJob* source) = 0;
};
