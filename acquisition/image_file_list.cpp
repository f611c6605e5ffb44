#include "acquisition/image_file_list.h"

#include <climits>
#include <string>

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

    // The lowest number whose file does not exist yet. Nothing reserves the
    // name: the source creates the file during the transfer.
    for (int number = 0; number < INT_MAX; ++number) {
        std::string candidate = tempFileName(tempDirectory, number, extension);
        if (candidate.empty()) return false;
        WIN32_FIND_DATAA found;
        unique_find_handle search(FindFirstFileA(candidate.c_str(), &found));
        if (!search) {
            candidate.copy(path, candidate.size());
            path[candidate.size()] = '\0';
            return true;
        }
    }
    return false;
}

ImageFileNode::ImageFileNode(TW_UINT16 fileFormat)
{
    pickTempFileName(fileExtension(fileFormat), path);
}

ImageFileList::~ImageFileList()
{
    while (head) {
        ImageFileNode* node = head;
        head = node->next;
        delete node;
    }
    tail = nullptr;
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
