#pragma once

#include "core/model/TJob.h"
#include "core/model/TJobArchiver.h"

#include <QFile>
#include <QStringList>

#include <stdexcept>

// Stands in for the archive engine: records what it was handed and fails on request the way
// the engine does (its failure event sets the flag and writes the error line).
class TFakeArchiver : public TJobArchiver {
public:
    explicit TFakeArchiver(TJob& job)
        : m_job(job) {}

    bool Fail = false;         // the failure event fires
    bool FailSilently = false; // false returned, no event (a locked file skipped quietly is an event too)
    bool Throw = false;
    QStringList Added; // "source as stored-name"
    QStringList Folders;
    QStringList Archives;

    bool AddFile(const QString& sourcePath) override {
        Added << sourcePath + QStringLiteral(" as ") + m_job.stFileNameToAddToZip;
        return Outcome(sourcePath);
    }
    bool AddFolderEntry(const QString& entryName) override {
        Folders << entryName + QStringLiteral(" as ") + m_job.stFileNameToAddToZip;
        return Outcome(entryName);
    }
    bool MakeSingleFileArchive(const QString& sourcePath, const QString& archivePath) override {
        Archives << sourcePath + QStringLiteral(" as ") + m_job.stFileNameToAddToZip;
        QFile archive(archivePath);
        if (!archive.open(QIODevice::WriteOnly))
            return false;
        QFile source(sourcePath);
        source.open(QIODevice::ReadOnly);
        archive.write("PK-fake:" + source.readAll()); // half-made when it fails below
        archive.close();
        return Outcome(sourcePath);
    }

private:
    bool Outcome(const QString& name) {
        if (Throw)
            throw std::runtime_error("archive engine exploded");
        if (FailSilently)
            return false;
        if (Fail) {
            Tag = 1;
            m_job.AddErrorLine(QStringLiteral("Cannot open file \"") + name + u'"');
            return false;
        }
        return true;
    }

    TJob& m_job;
};
