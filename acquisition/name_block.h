// The image-name block: a named 260-byte shared memory block that carries one
// image file path from its writer (TwainWorker or the Launcher) to the Java side.
#ifndef DOVRIKNA_ACQUISITION_NAME_BLOCK_H
#define DOVRIKNA_ACQUISITION_NAME_BLOCK_H

#include "frame/win_handles.h"

namespace dovrikna {

constexpr char kNameBlockName[] = "D32B4912-DB77-4112-B52F-4BE6856A3199";
constexpr unsigned kNameBlockSize = 260;

// One open view of the block. The owner opens the mapping and maps the view
// when it first needs them; destruction unmaps the view, then closes the mapping.
class SharedNameBlock {
public:
    SharedNameBlock() = default;
    virtual ~SharedNameBlock() = default;

    unique_kernel_handle mapping; // declared first, so it is closed last
    unique_mapview view;
};

// The Java side's reader; null until the first acquisition request.
extern SharedNameBlock* nameBlockReader;

// Deletes the reader, when there is one, and clears the pointer.
void deleteNameBlockReader();

} // namespace dovrikna

#endif
