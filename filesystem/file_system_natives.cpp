// The natives of com.quenlark.util.FileSystem.
#include "com_quenlark_util_FileSystem.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "filesystem/drive_kind.h"
#include "frame/failure_log.h"
#include "frame/java_strings.h"
#include "frame/jni_scoped.h"

using namespace dovrikna;

extern "C" {

// The root path goes to the platform as given: nothing is added or cut off.
// Windows 9x has the ANSI function only: a path it cannot hold is unknown.
JNIEXPORT jint JNICALL Java_com_quenlark_util_FileSystem_getDriveType0(JNIEnv* env, jclass, jstring root)
{
    ScopedJavaString path(env, root);
    if (!path.ok()) {
        logFailure("getDriveType0", nullptr, "a path that is null or holds U+0000");
        return DRIVE_KIND_UNKNOWN;
    }
    std::string ansi;
    UINT type = DRIVE_UNKNOWN;
    if (platformHasWideApi())
        type = GetDriveTypeW(wideOf(path.text()));
    else if (ansiFromWide(path.text(), CP_ACP, ansi))
        type = GetDriveTypeA(ansi.c_str());
    else
        logFailure("getDriveType0", &path.text(), "the path does not fit the code page");
    const DriveKind kind = driveKindOf(type);
    if (kind == DRIVE_KIND_UNKNOWN) logDriveTypeUnknown(path.text(), type);
    return kind;
}

// Writes {free bytes for this user, free bytes of the volume} and answers
// true, or answers false and leaves the array as it was.
JNIEXPORT jboolean JNICALL Java_com_quenlark_util_FileSystem_getDiskFreeSpace0(JNIEnv* env, jclass,
                                                                             jstring directory,
                                                                             jlongArray freeSpace)
{
    // An array that cannot take both values would make the VM raise an
    // exception on the write; the library never raises one, so it refuses.
    if (!freeSpace || env->GetArrayLength(freeSpace) < 2) {
        logFailure("getDiskFreeSpace0", nullptr, "no array of two");
        return JNI_FALSE;
    }
    ScopedJavaString path(env, directory);
    if (!path.ok()) {
        logFailure("getDiskFreeSpace0", nullptr, "a path that is null or holds U+0000");
        return JNI_FALSE;
    }

    ULARGE_INTEGER availableToUser, totalBytes, totalFree;
    BOOL answered = FALSE;
    std::string ansi;
    if (platformHasWideApi())
        answered = GetDiskFreeSpaceExW(wideOf(path.text()), &availableToUser, &totalBytes, &totalFree);
    else if (ansiFromWide(path.text(), CP_ACP, ansi))
        answered = GetDiskFreeSpaceExA(ansi.c_str(), &availableToUser, &totalBytes, &totalFree);
    else
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    if (!answered) {
        logWin32Failure("getDiskFreeSpace0", &path.text(), GetLastError());
        return JNI_FALSE;
    }

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
        if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PERSONAL, FALSE)) {
            logFailure("getMyDocumentFolder0", nullptr, "the shell knows no Documents folder");
            return nullptr;
        }
        return newJavaString(env, folder);
    }
    char folder[MAX_PATH];
    if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PERSONAL, FALSE)) {
        logFailure("getMyDocumentFolder0", nullptr, "the shell knows no Documents folder");
        return nullptr;
    }
    return newJavaString(env, folder);
}

} // extern "C"
