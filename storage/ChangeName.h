#pragma once

#include "storage/TStorageOperations.h"

#include <QString>

class TJob;

// Renames a job. A job that has run has a folder and a stored job file at its destination: both
// are renamed there first (a failure, an unreachable destination included, fails the rename as
// a whole and leaves the destination as it was); then the local job file, the name, and the log
// folder (whose failure is ignored). A job that never ran only renames its local job file.
// The caller has checked the name (CheckJobName) and that the job is idle; it saves the jobs
// list on success. Failures go to the events log.
bool ChangeName(TJob& job, const QString& newname, TStorageOperations::TBranchFactory factory = {});
