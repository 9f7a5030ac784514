#pragma once

#include "storage/TStorageOperations.h"

#include <QString>

#include <functional>

class TJob;
class TJobList;

// Renames a job as one step: it completes, or everything stays as it was. A job that has run has
// a folder and a stored job file at its destination, renamed there too (a failure, an unreachable
// destination included, fails the rename as a whole); its log folder follows (failures ignored).
// A job that never ran only changes its local job file.
// The order makes a stop at any point recoverable: the rename is first noted in the data folder
// ("<old>.vld.renaming", holding the new name), the local job file gets its new name beside the
// old one, the destination is renamed, and then the jobs list is saved with the new name: that
// save commits the rename. Only then are the old local job file and the note removed. A failure
// before the commit undoes the steps taken; CompleteInterruptedRenames finishes or undoes what a
// stopped process left. The caller has checked the name (CheckJobName) and that the job is idle,
// and holds its lock. Failures go to the events log.
bool ChangeName(TJobList& jobs, TJob& job, const QString& newname, TStorageOperations::TBranchFactory factory = {});

// At start-up, once the jobs are loaded: a rename whose jobs list was saved is finished (old local
// job file removed, log folder renamed); one whose list was not is undone (the destination renamed
// back, the new local job file removed). A rename whose job's lock another process holds is its
// own, still going; a destination that cannot be reached keeps the note for the next start.
void CompleteInterruptedRenames(TJobList& jobs, const TStorageOperations::TBranchFactory& factory = {});

// Test seam: called with each step's name just before the step is taken ("note", "local file",
// "destination folder", "destination file", "jobs list", "clean up").
extern std::function<void(const char* step)> RenameStepHookForTesting;
