// Names with characters outside ASCII, and which ANSI code pages hold them.
#ifndef DOVRIKNA_TESTS_FOREIGN_NAMES_H
#define DOVRIKNA_TESTS_FOREIGN_NAMES_H

#include <windows.h>

struct ForeignName {
    const char* text; // UTF-8
    bool in1252, in932;
};

// 932 holds Cyrillic (full-width forms) but no accented Latin letters.
// "Łódź" has a best-fit look-alike in 1252 ("Lódz").
const ForeignName kForeignNames[] = {
    {"Müller café", true, false},
    {"田中 写真", false, true},
    {"Юля", false, true},
    {"Łódź", false, false},
};

inline bool inCodePage(const ForeignName& name, UINT codePage)
{
    return codePage == 932 ? name.in932 : name.in1252;
}

#endif
