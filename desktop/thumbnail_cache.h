// The one-entry cache of the last video frame grabbed, and COM for the loading thread.
#ifndef DOVRIKNA_DESKTOP_THUMBNAIL_CACHE_H
#define DOVRIKNA_DESKTOP_THUMBNAIL_CACHE_H

namespace dovrikna {

// Load step: CoInitialize on the loading thread, then an empty cache.
void initThumbnailCache();

// Unload step: free the cached frame, free Media Foundation's modules when
// a grab loaded them (not while the process ends), then CoUninitialize (when the
// load's CoInitialize succeeded, this is the thread that made it and the
// process does not end).
void releaseThumbnailCache(bool processTerminating);

// The code page in which the media detector reads a path: CP_THREAD_ACP on
// NT 5 and later, otherwise the thread locale's ANSI code page (GetACP()
// when the locale does not tell). The method is chosen once. Only Windows 9x
// goes through it (a path it cannot hold fails there); elsewhere the
// detector takes the path's UTF-16 as it is.
unsigned conversionCodePage();

} // namespace dovrikna

#endif
