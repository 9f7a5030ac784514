// libFuzzer harness for the run's list files ("_rf.vll" and the others, the start flag): the
// input is the file as it lies at the destination, read with LoadListFile as a run or a restore
// reads it. What loads must save and load again to the same lines.

#include "tests/fuzz/FuzzSupport.h"

#include "jobs/files/ListFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::TInputFile input("_rf.vll");
    static const QString copy = fuzz::ScratchPath(QStringLiteral("_rf.vll"));
    if (!input.Write(fuzz::Bytes(data, size)))
        return 0;
    QStringList lines;
    if (!LoadListFile(input.Path(), lines))
        return 0;
    fuzz::Require(SaveListFile(copy, lines), "loaded lines cannot be saved");
    QStringList again;
    fuzz::Require(LoadListFile(copy, again), "a saved list file does not load");
    fuzz::Require(again == lines, "a list file does not read back as written");
    return 0;
}
