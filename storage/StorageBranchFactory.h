#pragma once

#include "storage/TStorageBranch.h"

#include <memory>

// The branch for the job's destination type. Types whose transport is not part of this build
// get a branch that refuses to connect and says so.
std::unique_ptr<TStorageBranch> CreateStorageBranch(TJob& job);

// Branches whose transport lives in a room above this one (the cloud clients) are made through a
// maker registered at start-up; without one the type gets the refusing branch.
using TStorageBranchMaker = std::unique_ptr<TStorageBranch> (*)(TJob& job);
void RegisterStorageBranchMaker(TDestinationType type, TStorageBranchMaker maker);
