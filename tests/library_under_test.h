// Loads the built dovrikna.dll the way a Java VM does and finds each native
// by its exported name: stdcall-decorated on x86, plain on x64.
#ifndef DOVRIKNA_TESTS_LIBRARY_UNDER_TEST_H
#define DOVRIKNA_TESTS_LIBRARY_UNDER_TEST_H

#include <windows.h>

#include <jni.h>

#include <string>

#include "dovrikna_natives.h"

class LibraryUnderTest {
public:
    // Loads the given file; by default the one DOVRIKNA_LIBRARY_UNDER_TEST
    // names, else dovrikna.dll from the test program's folder. A Java VM
    // calls JNI_OnLoad next; another host may not.
    enum OnLoad { kCallOnLoad, kSkipOnLoad };
    explicit LibraryUnderTest(const char* file = nullptr, OnLoad onLoad = kCallOnLoad);
    ~LibraryUnderTest() { unload(); }
    LibraryUnderTest(const LibraryUnderTest&) = delete;
    LibraryUnderTest& operator=(const LibraryUnderTest&) = delete;

    HMODULE module() const { return module_; }
    bool loaded() const { return module_ != nullptr; }
    void unload();

    // The exported name a Java VM of this architecture looks up.
    static std::string exportName(const char* jniName, int argumentBytes);

#define DOVRIKNA_DECLARE_NATIVE(name, bytes, result, args) result(JNICALL* name) args = nullptr;
    DOVRIKNA_NATIVES(DOVRIKNA_DECLARE_NATIVE)
#undef DOVRIKNA_DECLARE_NATIVE

    // Names of natives the library does not export, and JNI_OnLoad when it
    // is missing or returned a version other than JNI_VERSION_1_2.
    std::string missing;

private:
    HMODULE module_ = nullptr;
};

#endif
