// The natives of com.quenlark.util.FileSystem.
#include "com_quenlark_util_FileSystem.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "filesystem/drive_kind.h"
#include "frame/java_strings.h"
#include "frame/jni_scoped.h"

using namespace dovrikna;

extern "C" {

// The root path goes to the platform as given: nothing is added or cut off.
// Windows 9x has the ANSI function only: a path it cannot hold is unknown.
JNIEXPORT jint JNICALL Java_com_quenlark_util_FileSystem_getDriveType0(JNIEnv* env, jclass, jstring root)
{
    ScopedJavaString path(env, root);
    if (!path.ok()) return DRIVE_KIND_UNKNOWN;
    if (platformHasWideApi()) return driveKindOf(GetDriveTypeW(wideOf(path.text())));
    std::string ansi;
    if (!ansiFromWide(path.text(), CP_ACP, ansi)) return DRIVE_KIND_UNKNOWN;
    return driveKindOf(GetDriveTypeA(ansi.c_str()));
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
    ScopedJavaString path(env, directory);
    if (!path.ok()) return JNI_FALSE;

    ULARGE_INTEGER availableToUser, totalBytes, totalFree;
    BOOL answered = FALSE;
    std::string ansi;
    if (platformHasWideApi())
        answered = GetDiskFreeSpaceExW(wideOf(path.text()), &availableToUser, &totalBytes, &totalFree);
    else if (ansiFromWide(path.text(), CP_ACP, ansi))
        answered = GetDiskFreeSpaceExA(ansi.c_str(), &availableToUser, &totalBytes, &totalFree);
    if (!answered) return JNI_FALSE;

    // The unsigned counts go into Java's signed longs bit for bit.
    const jlong pair[2] = {static_cast<jlong>(availableToUser.QuadPart),
                           static_cast<jlong>(totalFree.QuadPart)};
    env->SetLongArrayRegion(freeSpace, 0, 2, pair);
    return JNI_TRUE;
}

// The user's documents folder, looked up and never created; null when unknown.
// The wide form names any folder; the ANSI one only those of the code page.
JNIEXPORT jstring JNICALL Java_com_quenlark_util_FileSystem_getMyDocumentFolder0(JNIEnv* env, jclass)
{
    if (platformHasWideApi()) {
        wchar_t folder[MAX_PATH];
        if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PERSONAL, FALSE)) return nullptr;
        return newJavaString(env, folder);
    }
    char folder[MAX_PATH];
    if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PERSONAL, FALSE)) return nullptr;
    return newJavaString(env, folder);
}

} // extern "C"
