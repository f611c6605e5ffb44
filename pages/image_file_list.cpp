#include "pages/image_file_list.h"

#include <string>
#include <vector>

#include "acquisition/transfer_rules.h"
#include "frame/java_strings.h"
#include "frame/win_handles.h"

namespace dovrikna {

bool pickTempFileName(const char* extension, char (&path)[MAX_PATH])
{
    path[0] = '\0';
    // The source writes the file by its ANSI name: a temp directory outside
    // the code page is named by its short form.
    std::string tempDirectory;
    if (!ansiTempDirectory(tempDirectory)) return false;

    // The lowest number whose file does not exist yet, from one enumeration
    // of the folder's kel*<extension> names (short names too, which a lookup
    // by name would match as well). Nothing reserves the name: the source
    // creates the file during the transfer.
    const std::string pattern = std::string(tempDirectory) + "kel*" + extension;
    std::vector<int> taken;
    WIN32_FIND_DATAA found;
    unique_find_handle search(FindFirstFileA(pattern.c_str(), &found));
    if (search) {
        do {
            taken.push_back(tempFileNumber(found.cFileName, extension));
            taken.push_back(tempFileNumber(found.cAlternateFileName, extension));
        } while (FindNextFileA(search.get(), &found));
    }
    const std::string candidate = tempFileName(tempDirectory, lowestFreeNumber(taken), extension);
    if (candidate.empty()) return false;
    candidate.copy(path, candidate.size());
    path[candidate.size()] = '\0';
    return true;
}

ImageFileNode::ImageFileNode(TW_UINT16 fileFormat)
{
    pickTempFileName(fileExtension(fileFormat), path);
}

ImageFileList::~ImageFileList()
{
    dropBefore(nullptr);
}

void ImageFileList::dropBefore(ImageFileNode* node)
{
    while (head && head != node) {
        ImageFileNode* dropped = head;
        head = dropped->next;
        delete dropped;
    }
    if (!head) tail = nullptr;
}

void ImageFileList::append(ImageFileNode* node)
{
    if (!head) {
        head = node;
        tail = node;
    } else {
        tail->next = node;
        tail = node;
    }
}

} // namespace dovrikna
