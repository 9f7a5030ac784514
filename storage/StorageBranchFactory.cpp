#include "storage/StorageBranchFactory.h"

#include "core/model/TJob.h"
#include "storage/TFtpBranch.h"
#include "storage/TLocalDriveBranch.h"
#include "storage/TNetworkShareBranch.h"
#include "storage/TUnavailableStorageBranch.h"

#include <atomic>

namespace {

std::atomic<TStorageBranchMaker> CloudBranchMaker{nullptr};

} // namespace

void RegisterStorageBranchMaker(TDestinationType type, TStorageBranchMaker maker) {
    if (type == dtCloud)
        CloudBranchMaker = maker;
}

std::unique_ptr<TStorageBranch> CreateStorageBranch(TJob& job) {
    const TDestinationType type = job.DestinationSettings.DestinationType;
    const TStorageBranchMaker cloudMaker = CloudBranchMaker.load();
    if (type == dtCloud && cloudMaker != nullptr)
        return cloudMaker(job);
    switch (type) {
    case dtLocalOrExternalDrive:
        return std::make_unique<TLocalDriveBranch>(job);
    case dtNetwork:
        return std::make_unique<TNetworkShareBranch>(job);
    case dtFTP:
        return std::make_unique<TFtpBranch>(job);
    case dtCloud:
        break;
    }
    return std::make_unique<TUnavailableStorageBranch>(job, type);
}
