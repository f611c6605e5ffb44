// The one-entry cache of the last video frame grabbed, and COM for the loading thread.
#ifndef DOVRIKNA_DESKTOP_THUMBNAIL_CACHE_H
#define DOVRIKNA_DESKTOP_THUMBNAIL_CACHE_H

namespace dovrikna {

// Load step: CoInitialize on the loading thread, then an empty cache.
void initThumbnailCache();

// Unload step: free the cached frame, then CoUninitialize.
void releaseThumbnailCache();

} // namespace dovrikna

#endif
