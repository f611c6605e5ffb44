// The memory transfer of a page: the source hands the image over in strips
// of a buffer of ours, each written at once to its rows' place in the page's
// BMP file, so that a page of any size arrives without ever being held whole.
#ifndef DOVRIKNA_PAGES_MEMORY_TRANSFER_H
#define DOVRIKNA_PAGES_MEMORY_TRANSFER_H

#include "acquisition/twain_types.h"

namespace dovrikna {

class ImageFileNode;
class TwainSession;

// Asks the source for the pending page described by `info` with
// DAT_SETUPMEMXFER and DAT_IMAGEMEMXFER until TWRC_XFERDONE, into a free
// "kel<n>.bmp" temp name, which becomes the node's path. Returns
// TWRC_XFERDONE once the file is whole, TWRC_CANCEL when the source
// cancelled, TWRC_FAILURE otherwise; no file is left unless the page is
// whole. `untouched` tells that no strip was taken (a page whose kind no BMP
// file takes, a refused setup, no buffer or file, a first strip refused):
// the page is still pending and may be asked for another way.
TW_UINT16 transferMemory(TwainSession& session, const TW_IMAGEINFO& info, ImageFileNode& node, bool& untouched);

} // namespace dovrikna

#endif
