// The native transfer of a page: the mechanism every TWAIN source supports,
// taken when a source will not transfer the page as a file.
#ifndef DOVRIKNA_PAGES_NATIVE_TRANSFER_H
#define DOVRIKNA_PAGES_NATIVE_TRANSFER_H

#include "acquisition/twain_types.h"

namespace dovrikna {

class ImageFileNode;
class TwainSession;

// Asks the source for the pending page with DAT_IMAGENATIVEXFER and writes
// the image as a BMP file under a free "kel<n>.bmp" temp name, which becomes
// the node's path: straight from the source's memory, or a few MB of a
// bitmap's rows at a time, never a copy of the whole image. The source may hand over a global-memory DIB or a bitmap
// handle; either is freed as its kind requires. Returns TWRC_XFERDONE once
// the file is written, the source's own code when it made no image, and
// TWRC_FAILURE when the image could not be read or written (no file is left).
TW_UINT16 transferNative(TwainSession& session, ImageFileNode& node);

} // namespace dovrikna

#endif
