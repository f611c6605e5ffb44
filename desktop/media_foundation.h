// The second way to a video's first frame: Media Foundation's source reader,
// for the files the media detector gives no frame of (MP4, MJPEG, and under
// Wine every file). Media Foundation is loaded at run time on first need, so
// the library still loads where it is missing.
#ifndef DOVRIKNA_DESKTOP_MEDIA_FOUNDATION_H
#define DOVRIKNA_DESKTOP_MEDIA_FOUNDATION_H

#include <windows.h>

#include <cstddef>

#include "desktop/com_handles.h"

namespace dovrikna {

// A grabbed frame, not yet in the cache: a 40-byte BITMAPINFOHEADER and
// 24-bit pixel rows, in a block of the process heap.
struct GrabbedFrame {
    unique_heap_block buffer;
    std::size_t bytes = 0;
};

// The first video frame of the file at the stream's own size, turned as the
// stream or its track header asks it to be shown, in the layout
// of the detector's GetBitmapBits (positive height, bottom-up BGR rows padded
// to 4 bytes). Negative on failure, when `grabbed` is untouched. Runs on the
// calling thread, which needs COM as the detector does.
// Media Foundation is started for the grab and ended after it, and the grab
// returns once the threads it started for it have ended (a quarter second
// at most).
HRESULT grabFirstFrameWithMediaFoundation(const wchar_t* path, GrabbedFrame& grabbed);

// The frame turned as the file at path asks it to be shown (an MP4 or
// QuickTime track header's matrix), width and height swapped for a quarter
// turn: for frames that the media detector grabbed, which come as stored.
// Negative only when the turned frame cannot be allocated.
HRESULT turnAsShown(const wchar_t* path, GrabbedFrame& grabbed);

// Unload step: Media Foundation's modules are freed (each grab has ended
// the platform it started). Not while the process ends: the system takes
// them back.
void releaseMediaFoundation(bool processTerminating);

} // namespace dovrikna

#endif
