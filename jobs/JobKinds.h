#pragma once

// Room jobs/: the factory that makes a job of each kind for the jobs list. May use the kinds' rooms
// below it; the windows and the command line use it.

#include "core/model/TJob.h"

#include <QString>

#include <memory>

// Creates an empty job of the given kind code (1 files and folders, 2 drive image, 3 application
// data); nullptr for any other code. The job list's factory.
std::unique_ptr<TJob> CreateJobOfKind(int kind, const QString& name);
