// The image files of completed transfers, in transfer order.
#ifndef DOVRIKNA_PAGES_IMAGE_FILE_LIST_H
#define DOVRIKNA_PAGES_IMAGE_FILE_LIST_H

#include <windows.h>

#include "acquisition/twain_types.h"

namespace dovrikna {

// One transferred image: the temp file the source is asked to write.
class ImageFileNode {
public:
    // Picks the first free temp file name for the format's extension. When
    // the temp directory is too long for a transfer's file name, `path` stays
    // empty.
    explicit ImageFileNode(TW_UINT16 fileFormat);
    virtual ~ImageFileNode() = default;

    ImageFileNode(const ImageFileNode&) = delete;
    ImageFileNode& operator=(const ImageFileNode&) = delete;

    char path[MAX_PATH];
    ImageFileNode* next = nullptr;
};

// The first free temp file name "kel<n><extension>" in the temp directory;
// false, with an empty path, when the temp directory is too long for a
// transfer's file name.
bool pickTempFileName(const char* extension, char (&path)[MAX_PATH]);

// Owns its nodes: appended as pages complete, freed once handed over, so that
// a long session holds only the pages still to be handed over.
class ImageFileList {
public:
    ImageFileList() = default;
    virtual ~ImageFileList();

    ImageFileList(const ImageFileList&) = delete;
    ImageFileList& operator=(const ImageFileList&) = delete;

    void append(ImageFileNode* node);
    // Frees the nodes before `node` (one of the list's), or every node for null.
    void dropBefore(ImageFileNode* node);

    ImageFileNode* head = nullptr;
    ImageFileNode* tail = nullptr;
};

} // namespace dovrikna

#endif
