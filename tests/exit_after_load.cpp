// A program that loads the library as a Java VM does (JNI_OnLoad included),
// makes one call and ends at once, as a VM may right after loading it: the
// process's end finds the library's worker wherever it is. tests/exit-runs
// starts it many times. With DOVRIKNA_SKIP_ON_LOAD set it is a plain
// LoadLibrary host, which never calls JNI_OnLoad.
#include <windows.h>

#include <cstdio>

#include "library_under_test.h"

int main()
{
    // Never freed: the process ends with the library loaded.
    const bool plainHost = GetEnvironmentVariableA("DOVRIKNA_SKIP_ON_LOAD", nullptr, 0) > 0;
    LibraryUnderTest& lib =
        *new LibraryUnderTest(nullptr, plainHost ? LibraryUnderTest::kSkipOnLoad : LibraryUnderTest::kCallOnLoad);
    if (!lib.loaded()) {
        std::printf("load failed: %lu %s\n", GetLastError(), lib.missing.c_str());
        return 2;
    }
    // No JNIEnv is touched by this native.
    return lib.com_quenlark_foto_TwainHandler_querySelectSource0(nullptr, nullptr) == 0 ? 0 : 3;
}
