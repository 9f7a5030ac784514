#pragma once

#include "core/base/TextFormat.h"
#include "core/settings/TAppGlobals.h"

#include <QString>

#include <initializer_list>

// Captions and messages of the windows go through the program's translation table; the texts
// are looked up with their placeholders and filled afterwards.
inline QString Tr(const char16_t* text) {
    return TranslateText(QString::fromUtf16(text));
}

inline QString TrFormat(const char16_t* format, std::initializer_list<QString> values) {
    return FormatText(TranslateText(QString::fromUtf16(format)), values);
}
