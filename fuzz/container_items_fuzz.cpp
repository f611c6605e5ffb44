// A source's capability container, as GlobalLock hands it over: any ConType,
// any size, any NumItems. The bytes sit in a heap block of exactly that size,
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

    fuzz::require(items.size() * sizeof(TW_UINT16) <= bytes, "more item bytes than the container holds",
                  static_cast<long long>(items.size()));
    std::size_t listOffset = 0;
    switch (conType) {
    case TWON_RANGE:
        fuzz::require(items.empty(), "a range gave items", static_cast<long long>(items.size()));
        break;
    case TWON_ONEVALUE:
        fuzz::require(items.size() == (bytes >= sizeof(TW_ONEVALUE) ? 1u : 0u), "one value: wrong count",
                      static_cast<long long>(items.size()));
        listOffset = offsetof(TW_ONEVALUE, Item);
        break;
    default: {
        const std::size_t countOffset = conType == TWON_ARRAY ? offsetof(TW_ARRAY, NumItems)
                                                               : offsetof(TW_ENUMERATION, NumItems);
        listOffset = conType == TWON_ARRAY ? offsetof(TW_ARRAY, ItemList) : offsetof(TW_ENUMERATION, ItemList);
        std::size_t expected = 0;
        if (bytes >= listOffset) {
            std::uint32_t numItems;
            std::memcpy(&numItems, container.data() + countOffset, sizeof numItems);
            expected = (bytes - listOffset) / 2;
            if (numItems < expected) expected = numItems;
        }
        fuzz::require(items.size() == expected, "list: count is not min(NumItems, room)",
                      static_cast<long long>(items.size()));
    }
    }
    // Every item is the little-endian 16-bit value at its place in the list.
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::uint8_t* at = container.data() + listOffset + 2 * i;
        fuzz::require(items[i] == (at[0] | at[1] << 8), "item differs from its bytes", static_cast<long long>(i));
    }
    const TW_UINT16 format = chooseFileFormat(items);
    fuzz::require(format == TWFF_TIFF || format == TWFF_BMP || format == TWFF_JFIF || format == TWFF_PNG ||
                      format == kNoKnownFormat,
                  "chosen format unknown", format);
    fuzz::require(std::strlen(fileExtension(format)) == 4, "extension length", format);
    return 0;
}
