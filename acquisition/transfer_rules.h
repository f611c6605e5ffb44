// Decisions of the TWAIN session that need no Windows header: where the source
// manager is looked for, how a capability container is read, which file format
// is chosen from the list a source offers, and how a temp file is named.
#ifndef DOVRIKNA_ACQUISITION_TRANSFER_RULES_H
#define DOVRIKNA_ACQUISITION_TRANSFER_RULES_H

#include <cstddef>
#include <string>
#include <vector>

#include "acquisition/twain_types.h"

namespace dovrikna {

// A source that refuses DAT_IMAGEINFO with `condition` after `completedPages`
// pages of a batch: true when that ends the batch as complete. A source whose
// Count never went down during the batch (Wine's gphoto2.ds repeats the
// batch's size after every page) gives no other sign of its last page than
// TWCC_SEQERROR for the next one.
bool refusalCompletesBatch(int completedPages, bool countWentDown, TW_UINT16 condition);

// How the pages of an acquisition are asked for.
enum class PagePlan {
    FileThenNative, // a file transfer; natively when the source will not
    Memory,         // memory strips; natively when the page cannot come so
    Native,
};

// No ICAP_XFERMECH to set: the source listed no mechanism.
constexpr TW_UINT16 kNoMechanism = 0xFFFF;

// The mechanism set in ICAP_XFERMECH before the source is enabled, from the
// ones the source lists: a file transfer whenever listed, else memory
// whenever listed (a page of any size arrives in strips, where a native page
// must fit one block of the process, and the user may still choose a larger
// page in the source's window after this choice), else native.
TW_UINT16 chooseTransferMechanism(const std::vector<TW_UINT16>& offered);

// How pages are asked for once the source answered the set of `chosen`. A
// source that refused the set keeps its own mechanism: the file transfer
// with its native fallback, as before any set, when it listed files or
// nothing; natively when it did not list files.
PagePlan planPages(TW_UINT16 chosen, bool setAccepted);

// The format of a source that offered none of the four known ones.
constexpr TW_UINT16 kNoKnownFormat = 0xFFFF;

// The longest path a transfer can name: TW_SETUPFILEXFER's FileName holds 255
// characters and a terminator (the node's own buffer holds 259).
constexpr std::size_t kMaxTransferPath = 255;

// The directory text with a backslash appended unless it already ends in one,
// then the file name.
std::string pathInDirectory(const std::string& directory, const char* fileName);

// The items of a capability container of `size` bytes, as 16-bit values. A
// TWON_ONEVALUE gives its one item and a TWON_ARRAY its list; a TWON_RANGE is
// not a list and gives none; every other container type is read as a
// TW_ENUMERATION. Items of type TWTY_INT32/TWTY_UINT32 are 32 bits wide (a
// value above 0xFFFF is left out), all others 16. No item is read beyond
// `size`, whatever NumItems says.
std::vector<TW_UINT16> containerItems(const void* container, std::size_t size, TW_UINT16 conType);

// One listed item applied to the format chosen so far.
TW_UINT16 applyFormatItem(TW_UINT16 format, TW_UINT16 item);

// The format chosen from a source's list, applying the items in their order
// from kNoKnownFormat on.
TW_UINT16 chooseFileFormat(const std::vector<TW_UINT16>& items);

// ".tif", ".bmp", ".jpg", ".png", or ".tmp" for any other format.
const char* fileExtension(TW_UINT16 format);

// tempDirectory + "kel" + number + extension; empty when the result is longer
// than kMaxTransferPath.
std::string tempFileName(const std::string& tempDirectory, int number, const char* extension);

// The number n of a file name "kel<n><extension>" as tempFileName writes it
// (decimal, no sign, no leading zero), its letters in either case as the file
// system matches them; -1 for every other name.
int tempFileNumber(const char* fileName, const char* extension);

// The lowest number 0, 1, 2, ... that is not among `taken` (which may hold
// duplicates and -1 for names that carry none).
int lowestFreeNumber(const std::vector<int>& taken);

} // namespace dovrikna

#endif
