// The natives of com.quenlark.util.FileSystem.
#include "com_quenlark_util_FileSystem.h"

#include <windows.h>
#include <shlobj.h>

#include "filesystem/drive_kind.h"
#include "frame/jni_scoped.h"

using dovrikna::ScopedUtfChars;

extern "C" {

// The root path goes to the platform as given: nothing is added or cut off.
JNIEXPORT jint JNICALL Java_com_quenlark_util_FileSystem_getDriveType0(JNIEnv* env, jclass, jstring root)
{
    ScopedUtfChars path(env, root);
    if (!path.c_str()) return dovrikna::DRIVE_KIND_UNKNOWN;
    return dovrikna::driveKindOf(GetDriveTypeA(path.c_str()));
}

// Writes {free bytes for this user, free bytes of the volume} and answers
// true, or answers false and leaves the array as it was.
JNIEXPORT jboolean JNICALL Java_com_quenlark_util_FileSystem_getDiskFreeSpace0(JNIEnv* env, jclass,
                                                                             jstring directory,
                                                                             jlongArray freeSpace)
{
    // An array that cannot take both values would make the VM raise an
    // exception on the write; the library never raises one, so it refuses.
    if (!freeSpace || env->GetArrayLength(freeSpace) < 2) return JNI_FALSE;
    ScopedUtfChars path(env, directory);
    if (!path.c_str()) return JNI_FALSE;

    ULARGE_INTEGER availableToUser, totalBytes, totalFree;
    if (!GetDiskFreeSpaceExA(path.c_str(), &availableToUser, &totalBytes, &totalFree)) return JNI_FALSE;

    // The unsigned counts go into Java's signed longs bit for bit.
    const jlong pair[2] = {static_cast<jlong>(availableToUser.QuadPart),
                           static_cast<jlong>(totalFree.QuadPart)};
    env->SetLongArrayRegion(freeSpace, 0, 2, pair);
    return JNI_TRUE;
}

// The user's documents folder, looked up and never created; null when unknown.
JNIEXPORT jstring JNICALL Java_com_quenlark_util_FileSystem_getMyDocumentFolder0(JNIEnv* env, jclass)
{
    char folder[MAX_PATH];
    if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PERSONAL, FALSE)) return nullptr;
    return env->NewStringUTF(folder);
}

} // extern "C"
