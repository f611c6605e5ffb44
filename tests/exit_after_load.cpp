// A program that loads the library as a Java VM does (JNI_OnLoad included),
// makes one call and ends at once, as a VM may right after loading it: the
// process's end finds the library's worker wherever it is. tests/exit-runs
// starts it many times. With DOVRIKNA_SKIP_ON_LOAD set it is a plain
// LoadLibrary host, which never calls JNI_OnLoad.
//   exit_after_load                  one call, then the end with the library loaded
//   exit_after_load thumb CLIP       the first frame of CLIP first, as a VM would ask it
//   exit_after_load thumb-free CLIP  the same, then the library freed before the end
//                                    (as dovrikna-try does)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "library_under_test.h"
#include "standins/fake_jvm.h"

int main(int argc, char** argv)
{
    const bool thumb = argc == 3 && std::strncmp(argv[1], "thumb", 5) == 0;
    const bool freeFirst = thumb && std::strcmp(argv[1], "thumb-free") == 0;
    if (argc != 1 && !thumb) {
        std::printf("usage: exit_after_load [thumb|thumb-free CLIP]\n");
        return 2;
    }
    // Never freed unless asked: the process ends with the library loaded.
    const bool plainHost = GetEnvironmentVariableA("DOVRIKNA_SKIP_ON_LOAD", nullptr, 0) > 0;
    LibraryUnderTest& lib =
        *new LibraryUnderTest(nullptr, plainHost ? LibraryUnderTest::kSkipOnLoad : LibraryUnderTest::kCallOnLoad);
    if (!lib.loaded()) {
        std::printf("load failed: %lu %s\n", GetLastError(), lib.missing.c_str());
        return 2;
    }
    if (thumb) {
        auto& jvm = *new fakejvm::FakeJvm; // never destroyed either: it checks books at its end
        const jint result = lib.com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0(
            jvm.env(), nullptr, jvm.newString(std::string(argv[2])), jvm.newIntArray({1920, 1088}),
            jvm.newByteArray(std::vector<jbyte>(1920 * 1088 * 3)));
        if (result != 0) {
            std::printf("no frame from %s: %ld\n", argv[2], static_cast<long>(result));
            return 4;
        }
        if (freeFirst) lib.unload();
        return 0;
    }
    // No JNIEnv is touched by this native.
    return lib.com_quenlark_foto_TwainHandler_querySelectSource0(nullptr, nullptr) == 0 ? 0 : 3;
}
