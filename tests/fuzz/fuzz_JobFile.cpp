// libFuzzer harness for local job files of every format version and kind. The input is the plain
// image; the harness puts the envelope around it, so that mutations reach the fields instead of
// scrambling everything the cipher feeds on after them. The file then goes through the start-up
// path: GetJobFileKind, a job of that kind, LoadLocalJobFile. A file that loads must save and
// load again to the same bytes. Decoding failures are expected; anything else is a finding.

#include "tests/fuzz/FuzzSupport.h"

#include "core/format/FileCipher.h"
#include "core/settings/TAppGlobals.h"
#include "jobs/JobKinds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::TInputFile input("job.vld");
    static const QString first = fuzz::ScratchPath(QStringLiteral("first.vld"));
    static const QString second = fuzz::ScratchPath(QStringLiteral("second.vld"));
    App().EventsLog.Clear();
    if (!input.Write(SealEnvelope(fuzz::Bytes(data, size))))
        return 0;
    const int kind = GetJobFileKind(input.Path());
    std::unique_ptr<TJob> job = CreateJobOfKind(kind, QStringLiteral("Fuzz"));
    if (!job || !job->LoadLocalJobFile(input.Path()))
        return 0;
    job->ToJson();
    fuzz::Require(job->SaveLocalJobFile(first), "a loaded job cannot be saved");
    fuzz::Require(GetJobFileKind(first) == kind, "a saved job file names another kind");
    std::unique_ptr<TJob> again = CreateJobOfKind(kind, QStringLiteral("Fuzz"));
    fuzz::Require(again->LoadLocalJobFile(first), "a saved job file does not load");
    fuzz::Require(again->SaveLocalJobFile(second), "a reloaded job cannot be saved");
    fuzz::Require(fuzz::ReadAll(first) == fuzz::ReadAll(second), "a job file does not read back as written");
    return 0;
}
