#pragma once

#include "storage/TStorageBranch.h"

#include <memory>

// The branch for the job's destination type. Types whose transport is not part of this build
// get a branch that refuses to connect and says so.
std::unique_ptr<TStorageBranch> CreateStorageBranch(TJob& job);
