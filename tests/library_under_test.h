// Loads the built dovrikna.dll the way a Java VM does and finds each native
// by its exported name: stdcall-decorated on x86, plain on x64.
#ifndef DOVRIKNA_TESTS_LIBRARY_UNDER_TEST_H
#define DOVRIKNA_TESTS_LIBRARY_UNDER_TEST_H

#include <windows.h>

#include <jni.h>

#include <string>

// The JNI name without "Java_", and the argument bytes of the x86 decoration.
#define DOVRIKNA_NATIVES(X)                                                                          \
    X(com_quenlark_foto_TwainHandler_selectSource0, 8, void, (JNIEnv*, jclass))                     \
    X(com_quenlark_foto_TwainHandler_querySelectSource0, 8, jint, (JNIEnv*, jclass))                \
    X(com_quenlark_foto_TwainHandler_acquireImage0, 8, void, (JNIEnv*, jclass))                     \
    X(com_quenlark_foto_TwainHandler_queryImageFile0, 8, jint, (JNIEnv*, jclass))                   \
    X(com_quenlark_foto_TwainHandler_getImageFile0, 12, jstring, (JNIEnv*, jclass, jintArray))      \
    X(com_quenlark_ui_awt_AwtUtil_findDefaultAppWindow0, 12, jint, (JNIEnv*, jclass, jint))         \
    X(com_quenlark_ui_awt_AwtUtil_openDefaultApp0, 12, jboolean, (JNIEnv*, jclass, jstring))        \
    X(com_quenlark_ui_awt_AwtUtil_sendFiles0, 20, jint, (JNIEnv*, jclass, jchar, jstring, jstring)) \
    X(com_quenlark_ui_awt_AwtUtil_getVideoThumbnail0, 20, jint,                                     \
      (JNIEnv*, jclass, jstring, jintArray, jbyteArray))                                            \
    X(com_quenlark_foto_Repository_mv0, 16, jboolean, (JNIEnv*, jclass, jstring, jstring))          \
    X(com_quenlark_util_FileSystem_getDriveType0, 12, jint, (JNIEnv*, jclass, jstring))             \
    X(com_quenlark_util_FileSystem_getDiskFreeSpace0, 16, jboolean, (JNIEnv*, jclass, jstring, jlongArray)) \
    X(com_quenlark_util_FileSystem_getMyDocumentFolder0, 8, jstring, (JNIEnv*, jclass))

class LibraryUnderTest {
public:
    // Loads dovrikna.dll from the test program's folder, or the given file.
    explicit LibraryUnderTest(const char* file = "dovrikna.dll");
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

    // Names of natives the library does not export.
    std::string missing;

private:
    HMODULE module_ = nullptr;
};

#endif
