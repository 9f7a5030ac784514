// libFuzzer harness for the options file of every format version. The input is the plain image;
// the harness puts the envelope around it and loads it with LoadOptions, as at start-up. A file
// that loads must save (as the current version) and load again to the same bytes and record.
// Decoding failures are expected; anything else is a finding.

#include "tests/fuzz/FuzzSupport.h"

#include "core/format/FileCipher.h"
#include "core/format/OptionsFile.h"
#include "core/format/OptionsJson.h"
#include "core/settings/TAppGlobals.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz::TInputFile input("options.vlo");
    static const QString first = fuzz::ScratchPath(QStringLiteral("first.vlo"));
    static const QString second = fuzz::ScratchPath(QStringLiteral("second.vlo"));
    App().EventsLog.Clear();
    if (!input.Write(SealEnvelope(fuzz::Bytes(data, size))))
        return 0;
    TOptions options;
    if (!LoadOptions(input.Path(), options))
        return 0;
    OptionsToJson(options);
    fuzz::Require(SaveOptions(first, options), "loaded options cannot be saved");
    TOptions again;
    fuzz::Require(LoadOptions(first, again), "a saved options file does not load");
    fuzz::Require(again == options, "an options file does not read back as written");
    fuzz::Require(SaveOptions(second, again), "reloaded options cannot be saved");
    fuzz::Require(fuzz::ReadAll(first) == fuzz::ReadAll(second), "an options file does not save the same twice");
    return 0;
}
