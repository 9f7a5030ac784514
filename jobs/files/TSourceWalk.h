#pragma once

#include "jobs/files/RestorePoints.h"
#include "jobs/files/TCurrentFileList.h"
#include "jobs/files/TFileTimeStamp.h"
#include "jobs/files/TMetadataList.h"
#include "jobs/files/TPathList.h"
#include "jobs/files/TStringIndex.h"
#include "jobs/files/TStringTable.h"
#include "jobs/files/TTreeScan.h"

#include "core/model/TJobTypes.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

class TJob_FilesAndFolders;
class TSleeper;
class TStorageOperations;

// The lists one run builds while it walks its sources. The run saves and uploads them.
struct TRunLists {
    TCurrentFileList CurrentFiles; // every source file seen now, in walk order, with its stamp
    TPathList CurrentFolders;      // every source folder seen now
    QStringList CopiedFiles;       // "_rf"
    QStringList CreatedFolders;    // "_rd"
    QStringList RemovedFiles;      // "_rrf"
    QStringList RemovedFolders;    // "_rrd"
    TMetadataListWriter Metadata;  // "_rm": every item seen now (written as the walk goes, when open)
};

// Walks the sources of one run: decides per file whether it changed since the run compared
// against, creates the folders a changed file needs in the new restore point, hands the file to
// the storage operations (plainly, into the run's archive or into an archive of its own), finds
// what disappeared, and deals with a destination that stops accepting. Runs on the job's worker.
class TSourceWalk {
public:
    struct TSetup {
        TRunKind Kind = TRunKind::Full;
        TZipKind Compression = TZipKind::None;
        QString JobFolder;        // the job's folder at the destination
        QString RestorePointPath; // job folder joined with the restore point (mirror: the job folder)
        const TStringTable* PreviousFiles = nullptr; // null: none
        const TStringTable* PreviousTimes = nullptr;
        TPathList PreviousFolders;
        QString PreviousMetadataFile; // the metadata list of the run compared against; empty: none
    };

    TSourceWalk(TJob_FilesAndFolders& job, TStorageOperations& storage, TSleeper& sleeper, TSetup setup,
                TRunLists& lists);

    // Creates every folder of rel's chain in the restore point that this run has not created yet.
    bool EnsureFolderChain(const QString& rel);
    // Walks the folder dir (absolute path) recorded as rel, as the scan reads it (root: its id there).
    void BackupDirectory(const QString& dir, const QString& rel, TTreeScan& scan, int root);
    // Where a scan for this job's walks descends.
    static TTreeScan::TDescendCheck DescendCheck(const TJob_FilesAndFolders& job);
    // A single-file source recorded by its name.
    void BackupSingleFile(const QString& path, const QString& name);
    // Records or (mirror runs) removes what is gone from the source.
    void ProcessSourceDeletions();

    // Sleeps while the job is paused; true when the job is being cancelled.
    bool WaitWhilePausedAndCheckCancel();
    bool Cancelled() const;

private:
    struct TExclusions {
        explicit TExclusions(const TJob_FilesAndFolders& job);
        bool Matches(const QString& dir, const QString& name) const;
        QSet<QString> Excluded; // lower-cased excluded folders
        QString TempFolderLower;
    };

    void WalkFolder(TTreeScan& scan, int id, const QString& dir, const QString& rel);
    // Creates one folder of the restore point (archive entry or real folder).
    TOperationResult CreateFolder(const QString& rel);
    // The file entry steps from the pause check on; the file is already in the current lists.
    // previous is the file's entry in the previous run's list, or -1. True when the file stays in
    // the current lists as it is now (unchanged or transferred).
    bool TransferIfChanged(const QString& path, const QString& rel, const QString& stamp, bool needsFolder,
                           qsizetype previous, const TItemMetadata& metadata);
    // The previous run's entry of rel, or -1; marks it as still there.
    qsizetype FindPrevious(QStringView rel);
    bool PreviousStampIs(qsizetype previous, QStringView stamp) const;
    // Whether mode, kind and (as root, who can give them back) owner equal the previous run's; true
    // when the previous run recorded none.
    bool PreviousMetadataIs(qsizetype previous, const TItemMetadata& metadata) const;
    bool Unchanged(qsizetype previous, QStringView stamp, const TItemMetadata& metadata) const {
        return PreviousStampIs(previous, stamp) && PreviousMetadataIs(previous, metadata);
    }
    void LoadPreviousMetadata(const QString& path);
    // Adds the item to the run's metadata list; nativePath is read for a link's target.
    void RecordMetadata(QStringView rel, const TItemMetadata& metadata, const QByteArray& nativePath);
    TOperationResult Transfer(const QString& path, const QString& rel);
    // A link the destination cannot hold, which the metadata list records instead.
    bool RecordedOnly(const TItemMetadata& metadata) const;
    // orSuccess when the link at path can be recorded (its target read), else an error line and
    // orERROR_LocalAccess.
    TOperationResult RecordableLink(const QString& path);
    // What to do when the destination refuses: true after a resume (try again), false when the
    // run is being cancelled.
    bool DestinationNotAccepting();
    bool IsExcludedFolder(const QString& dir, const QString& name) const;
    bool PassesExtensionFilter(const QString& name) const;

    TJob_FilesAndFolders& m_job;
    TStorageOperations& m_storage;
    TSleeper& m_sleeper;
    TSetup m_setup;
    TRunLists& m_lists;
    TFileTimeStamp m_stamps;
    TStringTable m_noPrevious;
    TStringIndex m_previousIndex;
    std::vector<bool> m_previousSeen; // by first occurrence: the file is still in the source
    QSet<QString> m_createdFolders;   // folders this run has made in its restore point
    TExclusions m_exclusions;
    QString m_extensions; // ";" + extensions + ";"
    // What a change of metadata is judged by, per entry of the previous files list.
    struct TComparedMetadata {
        uint32_t Owner = 0;
        uint32_t Group = 0;
        uint16_t Mode = 0;
        TItemMetadata::TKind Kind = TItemMetadata::TKind::Unknown; // Unknown: not recorded
    };
    std::vector<TComparedMetadata> m_previousMetadata; // empty when the previous run recorded none
    bool m_compareOwners = false;
};
