#include "jobs/JobKinds.h"

#include "cloud/TCloudStorageBranch.h"
#include "jobs/appdata/TJob_AppsData.h"
#include "jobs/driveimage/TJob_DriveImage.h"
#include "jobs/files/TJob_FilesAndFolders.h"

std::unique_ptr<TJob> CreateJobOfKind(int kind, const QString& name) {
    // Jobs made here reach cloud destinations through the cloud room's branch.
    RegisterCloudStorageBranch();
    switch (kind) {
    case int(TJobKind::FilesAndFolders):
        return std::make_unique<TJob_FilesAndFolders>(name);
    case int(TJobKind::DriveImage):
        return std::make_unique<TJob_DriveImage>(name);
    case int(TJobKind::AppsData):
        return std::make_unique<TJob_AppsData>(name);
    default:
        return nullptr;
    }
}
