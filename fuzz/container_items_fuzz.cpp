// A source's capability container, as GlobalLock hands it over: any ConType,
// any size, any NumItems, items of any type. The bytes sit in a heap block of exactly that size,
// so a read past the container is the sanitizer's to find.
#include <cstring>
#include <vector>

#include "acquisition/transfer_rules.h"
#include "fuzz/fuzz_support.h"

using namespace dovrikna;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    const TW_UINT16 conType = static_cast<TW_UINT16>(data[0] | data[1] << 8);
    const std::size_t bytes = size - 2;
    std::vector<std::uint8_t> container(data + 2, data + size); // exactly `bytes` long
    const std::vector<TW_UINT16> items = containerItems(bytes ? container.data() : nullptr, bytes, conType);

    // The model: items of the container's ItemType, 4 bytes wide for the
    // 32-bit types and 2 bytes otherwise; a 32-bit value above 0xFFFF names
    // no 16-bit constant and is left out.
    auto le = [&](std::size_t at, std::size_t width) {
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < width; ++k) value |= std::uint32_t(container[at + k]) << (8 * k);
        return value;
    };
    const std::size_t width = bytes >= 2 && (le(0, 2) == TWTY_INT32 || le(0, 2) == TWTY_UINT32) ? 4 : 2;
    std::vector<TW_UINT16> expected;
    auto take = [&](std::size_t at) {
        const std::uint32_t value = le(at, width);
        if (value <= 0xFFFF) expected.push_back(static_cast<TW_UINT16>(value));
    };
    switch (conType) {
    case TWON_RANGE:
        break;
    case TWON_ONEVALUE:
        if (bytes >= sizeof(TW_ONEVALUE)) take(offsetof(TW_ONEVALUE, Item));
        break;
    default: {
        const std::size_t countOffset = conType == TWON_ARRAY ? offsetof(TW_ARRAY, NumItems)
                                                               : offsetof(TW_ENUMERATION, NumItems);
        const std::size_t listOffset =
            conType == TWON_ARRAY ? offsetof(TW_ARRAY, ItemList) : offsetof(TW_ENUMERATION, ItemList);
        if (bytes >= listOffset) {
            std::size_t count = le(countOffset, 4);
            if (count > (bytes - listOffset) / width) count = (bytes - listOffset) / width;
            for (std::size_t i = 0; i < count; ++i) take(listOffset + i * width);
        }
    }
    }
    fuzz::require(items.size() == expected.size(), "item count differs from the model",
                  static_cast<long long>(items.size()));
    for (std::size_t i = 0; i < items.size(); ++i)
        fuzz::require(items[i] == expected[i], "item differs from its bytes", static_cast<long long>(i));
    const TW_UINT16 format = chooseFileFormat(items);
    fuzz::require(format == TWFF_TIFF || format == TWFF_BMP || format == TWFF_JFIF || format == TWFF_PNG ||
                      format == kNoKnownFormat,
                  "chosen format unknown", format);
    fuzz::require(std::strlen(fileExtension(format)) == 4, "extension length", format);
    return 0;
}
