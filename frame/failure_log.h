// The conversation log's line for a native call that failed: the native's
// name, what it was asked (its paths) and why, as far as the library knows:
//   mv0 "C:\a.jpg" to "C:\b.jpg" failed: error 2 (The system cannot find ...)
// Each costs nothing while the log is off, and passes its result on, so that
// a failure point needs one call.
#ifndef DOVRIKNA_FRAME_FAILURE_LOG_H
#define DOVRIKNA_FRAME_FAILURE_LOG_H

#include <cstdint>
#include <string>

namespace dovrikna {

// Windows' error code, with the system's text for it.
void logWin32Failure(const char* native, const std::u16string* path, unsigned long error,
                     const std::u16string* secondPath = nullptr);
// A reason in words only.
void logFailure(const char* native, const std::u16string* path, const char* reason);
// GetDriveType's answer for a path that gives no known kind.
void logDriveTypeUnknown(const std::u16string& path, unsigned type);
// The shell's answer to "open" when it is 32 or less; returns it.
std::intptr_t logShellAnswer(const std::u16string& path, std::intptr_t answer);
// A failed grab's HRESULT, with what it means (no such file, not a video,
// no video stream) where that is known; returns it.
long logThumbnailResult(const std::u16string& path, long hr);
// A Simple MAPI call's result other than SUCCESS_SUCCESS; returns it.
unsigned long logMailResult(const char* call, unsigned long result);
// A mail that was not handed to the client at all; returns 0, sendFiles0's
// only result.
int logMailNotSent(const char* reason);

} // namespace dovrikna

#endif
