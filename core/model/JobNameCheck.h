#pragma once

#include <QString>

class TJob;
class TJobList;

enum class TJobNameVerdict {
    Accepted,
    Unchanged,           // a rename to the job's own name, exactly: nothing to do
    NotUsable,           // empty, "." or "..", or holds control characters
    ForbiddenCharacters, // holds one of <>:"/\|?*
    AlreadyExists,       // another job has it, ignoring letter case
};

struct TJobNameCheck {
    TJobNameVerdict Verdict = TJobNameVerdict::Accepted;
    QString Name;    // the typed name, trimmed
    QString Message; // translated text for the user; empty when accepted or unchanged
};

// The characters a job name may not contain: the name also names folders and files.
QString ForbiddenJobNameCharacters();

// Checks a name typed for a new job (renamed == nullptr) or for renaming the job renamed. Job
// names name folders on destinations that may ignore letter case, so a name that differs from
// an existing one only in case is refused; for a rename that includes the job's own name.
TJobNameCheck CheckJobName(const QString& typed, const TJobList& jobs, const TJob* renamed = nullptr);
