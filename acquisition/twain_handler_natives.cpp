// The natives of com.quenlark.foto.TwainHandler. Each runs on the calling Java
// thread, posts at most one request to TwainWorker and never waits for the
// scanner; the answers come back through the status word.
// Before windows.h, whose STATUS_PENDING macro would hide the status names.
#include "acquisition/acquisition_status.h"

#include <windows.h>

#include <cstring>
#include <new>
#include <string>

#include "acquisition/multibyte_prefix.h"
#include "acquisition/name_block.h"
#include "acquisition/twain_messages.h"
#include "acquisition/twain_worker.h"
#include "com_quenlark_foto_TwainHandler.h"
#include "frame/java_strings.h"

using namespace dovrikna;

namespace {

bool isAnsiLeadByte(unsigned char byte)
{
    return IsDBCSLeadByte(byte) != FALSE;
}

// 1 when the path lies in the temp directory, named as the writer names it
// (by its short form when the code page cannot hold it). An unknown temp
// directory holds no path: a wrong 1 would tell the Java side that a file may
// be thrown away.
jint temporaryFileFlag(const char* path)
{
    std::string temp;
    if (!ansiTempDirectory(temp)) return 0;
    return multibytePrefixMatches(path, temp.c_str(), isAnsiLeadByte) ? 1 : 0;
}

// Opens and maps the image-name block for the reader the first time it is
// needed. The reader takes the mapping and the view only when both were made,
// so a failure leaves it as it was.
bool ensureReaderView(SharedNameBlock& reader)
{
    if (reader.view) return true;
    unique_kernel_handle mapping;
    if (reader.mapping)
        mapping = std::move(reader.mapping);
    else
        mapping.reset(OpenFileMappingA(FILE_MAP_READ, FALSE, kNameBlockName));
    if (!mapping) return false;
    unique_mapview view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, kNameBlockSize));
    const bool mapped = static_cast<bool>(view);
    reader.mapping = std::move(mapping);
    reader.view = std::move(view);
    return mapped;
}

} // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_quenlark_foto_TwainHandler_selectSource0(JNIEnv*, jclass)
{
    markRequestPending();
    postToWorker(TWM_SELECT_SOURCE);
}

JNIEXPORT jint JNICALL Java_com_quenlark_foto_TwainHandler_querySelectSource0(JNIEnv*, jclass)
{
    return acquisitionStatus.load();
}

JNIEXPORT void JNICALL Java_com_quenlark_foto_TwainHandler_acquireImage0(JNIEnv*, jclass)
{
    markRequestPending();
    postToWorker(TWM_ACQUIRE);
    if (!nameBlockReader) nameBlockReader = new (std::nothrow) SharedNameBlock();
}

JNIEXPORT jint JNICALL Java_com_quenlark_foto_TwainHandler_queryImageFile0(JNIEnv*, jclass)
{
    const int status = takeStatusLeavingIdle();
    if (status == STATUS_FINISHED) deleteNameBlockReader();
    return status;
}

// Hands over the path in the image-name block and lets the writer go on. Called
// out of order (no reader, no block, no room for the flag) it answers null and
// posts nothing, so the path stays in the block and nothing is skipped.
JNIEXPORT jstring JNICALL Java_com_quenlark_foto_TwainHandler_getImageFile0(JNIEnv* env, jclass,
                                                                            jintArray flags)
{
    SharedNameBlock* reader = nameBlockReader;
    if (!reader) return nullptr;
    if (!flags || env->GetArrayLength(flags) < 1) return nullptr;
    if (!ensureReaderView(*reader)) return nullptr;

    // The block's bytes up to its terminator, and never past its 260 bytes,
    // whatever the writer left there.
    char path[kNameBlockSize + 1];
    std::memcpy(path, reader->view.get(), kNameBlockSize);
    path[kNameBlockSize] = '\0';

    const jint flag = temporaryFileFlag(path);
    // The block holds ANSI text of the process's code page.
    jstring result = newJavaString(env, path);
    if (!result) return nullptr; // the path was not taken: the writer keeps it
    env->SetIntArrayRegion(flags, 0, 1, &flag);
    // Only now: the writer may overwrite the block as soon as it sees this.
    pathWaiting.store(false);
    postToWorker(TWM_NEXT_FILE);
    return result;
}

} // extern "C"
