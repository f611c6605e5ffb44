#include "acquisition/transfer_rules.h"

#include <climits>
#include <cstdio>

namespace dovrikna {

namespace {

TW_UINT32 readUint32(const unsigned char* bytes)
{
    // TWAIN records are little-endian on every platform this library runs on.
    return static_cast<TW_UINT32>(bytes[0]) | static_cast<TW_UINT32>(bytes[1]) << 8 |
           static_cast<TW_UINT32>(bytes[2]) << 16 | static_cast<TW_UINT32>(bytes[3]) << 24;
}

TW_UINT16 readUint16(const unsigned char* bytes)
{
    return static_cast<TW_UINT16>(bytes[0] | bytes[1] << 8);
}

// Items declared TWTY_INT32 or TWTY_UINT32 are 4 bytes wide; every other type
// is read as 16 bits, as sources that leave ItemType unset mean it.
std::size_t itemWidth(TW_UINT16 itemType)
{
    return itemType == TWTY_INT32 || itemType == TWTY_UINT32 ? 4 : 2;
}

// One item of `width` bytes; false for a 32-bit value that no 16-bit constant
// can equal.
bool readItem(const unsigned char* bytes, std::size_t width, TW_UINT16& item)
{
    if (width == 2) {
        item = readUint16(bytes);
        return true;
    }
    TW_UINT32 value = readUint32(bytes);
    item = static_cast<TW_UINT16>(value);
    return value <= 0xFFFF;
}

// NumItems at `countOffset`, items of the container's type from `listOffset`,
// as many as both NumItems and the container's size allow.
std::vector<TW_UINT16> readList(const unsigned char* bytes, std::size_t size,
                                std::size_t countOffset, std::size_t listOffset)
{
    std::vector<TW_UINT16> items;
    if (size < listOffset) return items;
    const std::size_t width = itemWidth(readUint16(bytes));
    std::size_t count = readUint32(bytes + countOffset);
    std::size_t room = (size - listOffset) / width;
    if (count > room) count = room;
    items.reserve(count);
    TW_UINT16 item = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (readItem(bytes + listOffset + i * width, width, item)) items.push_back(item);
    return items;
}

char foldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalFolded(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
        if (foldAscii(*a) != foldAscii(*b)) return false;
    return *a == *b;
}

} // namespace

std::string pathInDirectory(const std::string& directory, const char* fileName)
{
    std::string path = directory;
    if (path.empty() || path.back() != '\\') path += '\\';
    path += fileName;
    return path;
}

std::vector<TW_UINT16> containerItems(const void* container, std::size_t size, TW_UINT16 conType)
{
    const auto* bytes = static_cast<const unsigned char*>(container);
    if (!bytes) return {};
    switch (conType) {
    case TWON_ONEVALUE: {
        // A 16-bit value sits in the low half of the 32-bit Item.
        if (size < sizeof(TW_ONEVALUE)) return {};
        TW_UINT16 item = 0;
        if (!readItem(bytes + offsetof(TW_ONEVALUE, Item), itemWidth(readUint16(bytes)), item)) return {};
        return {item};
    }
    case TWON_ARRAY:
        return readList(bytes, size, offsetof(TW_ARRAY, NumItems), offsetof(TW_ARRAY, ItemList));
    case TWON_RANGE:
        return {};
    default:
        return readList(bytes, size, offsetof(TW_ENUMERATION, NumItems),
                        offsetof(TW_ENUMERATION, ItemList));
    }
}

TW_UINT16 chooseTransferMechanism(const std::vector<TW_UINT16>& offered)
{
    bool memory = false, native = false;
    for (TW_UINT16 mechanism : offered) {
        if (mechanism == TWSX_FILE) return TWSX_FILE;
        memory = memory || mechanism == TWSX_MEMORY;
        native = native || mechanism == TWSX_NATIVE;
    }
    return memory ? TWSX_MEMORY : native ? TWSX_NATIVE : kNoMechanism;
}

PagePlan planPages(TW_UINT16 chosen, bool setAccepted)
{
    switch (chosen) {
    case TWSX_MEMORY:
        return setAccepted ? PagePlan::Memory : PagePlan::Native;
    case TWSX_NATIVE:
        return PagePlan::Native;
    default:
        return PagePlan::FileThenNative;
    }
}

bool refusalCompletesBatch(int completedPages, bool countWentDown, TW_UINT16 condition)
{
    return completedPages > 0 && !countWentDown && condition == TWCC_SEQERROR;
}

TW_UINT16 applyFormatItem(TW_UINT16 format, TW_UINT16 item)
{
    switch (item) {
    case TWFF_TIFF:
        return TWFF_TIFF;
    case TWFF_BMP:
        return format == TWFF_TIFF ? format : TWFF_BMP;
    case TWFF_JFIF:
        return format == TWFF_PNG ? format : TWFF_JFIF;
    case TWFF_PNG:
        return TWFF_PNG;
    default:
        return format;
    }
}

TW_UINT16 chooseFileFormat(const std::vector<TW_UINT16>& items)
{
    TW_UINT16 format = kNoKnownFormat;
    for (TW_UINT16 item : items) format = applyFormatItem(format, item);
    return format;
}

const char* fileExtension(TW_UINT16 format)
{
    switch (format) {
    case TWFF_TIFF:
        return ".tif";
    case TWFF_BMP:
        return ".bmp";
    case TWFF_JFIF:
        return ".jpg";
    case TWFF_PNG:
        return ".png";
    default:
        return ".tmp";
    }
}

std::string tempFileName(const std::string& tempDirectory, int number, const char* extension)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", number);
    std::string path = tempDirectory + "kel" + digits + extension;
    if (path.size() > kMaxTransferPath) return {};
    return path;
}

int tempFileNumber(const char* fileName, const char* extension)
{
    for (int i = 0; i < 3; ++i) // stops at the terminator of a shorter name
        if (foldAscii(fileName[i]) != "kel"[i]) return -1;
    const char* digits = fileName + 3;
    long long number = 0;
    const char* p = digits;
    for (; *p >= '0' && *p <= '9'; ++p) {
        number = number * 10 + (*p - '0');
        if (number > INT_MAX) return -1;
    }
    const std::size_t count = static_cast<std::size_t>(p - digits);
    if (count == 0 || (count > 1 && digits[0] == '0')) return -1;
    return equalFolded(p, extension) ? static_cast<int>(number) : -1;
}

int lowestFreeNumber(const std::vector<int>& taken)
{
    // Among n taken numbers one of 0..n is free: larger ones need no mark.
    std::vector<bool> used(taken.size() + 1);
    for (int number : taken)
        if (number >= 0 && static_cast<std::size_t>(number) < used.size()) used[number] = true;
    std::size_t free = 0;
    while (used[free]) ++free;
    return static_cast<int>(free);
}

} // namespace dovrikna
