// Every native of the library as a Java VM binds it, for the programs that
// load the DLL the way a VM does (the tests and dovrikna-try).
#ifndef DOVRIKNA_JNI_DOVRIKNA_NATIVES_H
#define DOVRIKNA_JNI_DOVRIKNA_NATIVES_H

#include <jni.h>

// JNI_OnLoad, which a VM calls right after the load, as a VM of this
// architecture looks it up, and its type.
#ifdef _WIN64
#define DOVRIKNA_ON_LOAD_EXPORT "JNI_OnLoad"
#else
#define DOVRIKNA_ON_LOAD_EXPORT "_JNI_OnLoad@8"
#endif
typedef jint(JNICALL* DovriknaOnLoad)(JavaVM*, void*);

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

#endif
