#include "storage/TUnavailableStorageBranch.h"

#include "core/model/JobTexts.h"
#include "core/model/TJob.h"

TUnavailableStorageBranch::TUnavailableStorageBranch(TJob& job, TDestinationType type)
    : TStorageBranch(job)
    , m_type(type) {}

QString TUnavailableStorageBranch::Reason() const {
    return m_job.TrFormat(QStringLiteral("Destinations of the type \"%s\" are not available in this build."),
                          {StorageText(m_type)});
}

TConnectResult TUnavailableStorageBranch::Connect() {
    return {false, {}, Reason()};
}

QString TUnavailableStorageBranch::Disconnect() {
    return {};
}

TBranchResult TUnavailableStorageBranch::Upload(const QString&, const QString&) {
    return TBranchResult::Failure(Reason());
}

TBranchResult TUnavailableStorageBranch::Download(const QString&, const QString&) {
    return TBranchResult::Failure(Reason());
}

TBranchResult TUnavailableStorageBranch::RemoveFile(const QString&) {
    return TBranchResult::Failure(Reason());
}

TBranchResult TUnavailableStorageBranch::RemoveEmptyFolder(const QString&) {
    return TBranchResult::Failure(Reason());
}

TBranchResult TUnavailableStorageBranch::RemoveFolderTree(const QString&) {
    return TBranchResult::Failure(Reason());
}

TBranchResult TUnavailableStorageBranch::CreateFolder(const QString&) {
    return TBranchResult::Failure(Reason());
}

TBranchResult TUnavailableStorageBranch::RenameFolder(const QString&, const QString&) {
    return TBranchResult::Failure(Reason());
}

TBranchResult TUnavailableStorageBranch::RenameFile(const QString&, const QString&) {
    return TBranchResult::Failure(Reason());
}
