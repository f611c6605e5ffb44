#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "acquisition/transfer_rules.h"

namespace {

using namespace dovrikna;
using Items = std::vector<TW_UINT16>;

TEST(TransferMechanismRule, FileWhenListedElseMemoryElseNativeAndTheAnswerDecidesThePlan)
{
    struct Row {
        Items offered;
        TW_UINT16 chosen;
        PagePlan accepted, refused;
    };
    const auto fileThenNative = PagePlan::FileThenNative;
    const Row rows[] = {
        {{TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}, TWSX_FILE, fileThenNative, fileThenNative},
        {{TWSX_FILE}, TWSX_FILE, fileThenNative, fileThenNative},
        {{TWSX_NATIVE, TWSX_MEMORY}, TWSX_MEMORY, PagePlan::Memory, PagePlan::Native},
        {{TWSX_MEMORY, TWSX_NATIVE}, TWSX_MEMORY, PagePlan::Memory, PagePlan::Native},
        // Wine's gphoto2.ds answers with its current mechanism alone.
        {{TWSX_NATIVE}, TWSX_NATIVE, PagePlan::Native, PagePlan::Native},
        {{7, TWSX_NATIVE, 0x8000}, TWSX_NATIVE, PagePlan::Native, PagePlan::Native},
        // Nothing listed (the query failed): nothing is set, pages as before.
        {{}, kNoMechanism, fileThenNative, fileThenNative},
        {{7, 0xFFFF}, kNoMechanism, fileThenNative, fileThenNative},
    };
    for (const Row& row : rows) {
        std::string list;
        for (TW_UINT16 item : row.offered) list += std::to_string(item) + " ";
        const TW_UINT16 chosen = chooseTransferMechanism(row.offered);
        EXPECT_EQ(row.chosen, chosen) << "list " << list;
        EXPECT_EQ(row.accepted, planPages(chosen, true)) << "list " << list;
        EXPECT_EQ(row.refused, planPages(chosen, false)) << "list " << list;
    }
}

TEST(FileFormatRule, FollowsTheOrderOfTheSourcesList)
{
    struct Row {
        Items offered;
        TW_UINT16 chosen;
        const char* extension;
    };
    const Row rows[] = {
        // BMP (0xFFFF is not TIFF), then TIFF, then JFIF (TIFF is not PNG).
        {{TWFF_BMP, TWFF_TIFF, TWFF_JFIF}, TWFF_JFIF, ".jpg"},
        {{TWFF_TIFF, TWFF_BMP}, TWFF_TIFF, ".tif"},
        {{TWFF_BMP, TWFF_TIFF}, TWFF_TIFF, ".tif"},
        {{TWFF_TIFF, TWFF_JFIF}, TWFF_JFIF, ".jpg"},
        {{TWFF_JFIF, TWFF_TIFF}, TWFF_TIFF, ".tif"},
        {{TWFF_PNG, TWFF_BMP}, TWFF_BMP, ".bmp"},
        {{TWFF_PNG, TWFF_JFIF}, TWFF_PNG, ".png"},
        {{TWFF_JFIF, TWFF_BMP}, TWFF_BMP, ".bmp"},
        {{TWFF_TIFF, TWFF_PICT, TWFF_BMP, TWFF_XBM, TWFF_JFIF, TWFF_FPX, TWFF_TIFFMULTI, TWFF_PNG},
         TWFF_PNG, ".png"},
        {{TWFF_PICT, TWFF_XBM, TWFF_FPX, TWFF_TIFFMULTI, 8, 0xFFFF}, 0xFFFF, ".tmp"},
        {{}, 0xFFFF, ".tmp"},
        {{TWFF_BMP}, TWFF_BMP, ".bmp"},
    };
    for (const Row& row : rows) {
        std::string list;
        for (TW_UINT16 item : row.offered) list += std::to_string(item) + " ";
        TW_UINT16 chosen = chooseFileFormat(row.offered);
        EXPECT_EQ(row.chosen, chosen) << "list " << list;
        EXPECT_STREQ(row.extension, fileExtension(chosen)) << "list " << list;
    }
}

TEST(BatchEnd, OnlyASequenceErrorAfterPagesWhoseCountStayedUpCompletesTheBatch)
{
    const struct {
        int completed;
        bool wentDown;
        TW_UINT16 condition;
        bool complete;
    } rows[] = {
        {12, false, TWCC_SEQERROR, true}, {1, false, TWCC_SEQERROR, true},
        {0, false, TWCC_SEQERROR, false}, // nothing came: the source failed
        {3, true, TWCC_SEQERROR, false},  // it counted down and promised more
        {3, false, 0, false}, {3, false, 1, false}, {3, false, 15, false}, {3, false, 0xFFFF, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.complete, refusalCompletesBatch(row.completed, row.wentDown, row.condition))
            << row.completed << " pages, count went down " << row.wentDown << ", condition " << row.condition;
}

TEST(FileFormatRule, ExtensionsOfOtherValues)
{
    for (TW_UINT16 format : {1, 3, 5, 6, 8, 0x7FFF, 0xFFFF})
        EXPECT_STREQ(".tmp", fileExtension(format)) << format;
}

TEST(TempFileName, NumberAndExtensionAfterTheDirectoryAndNothingTooLong)
{
    EXPECT_EQ("C:\\T\\kel0.tif", tempFileName("C:\\T\\", 0, ".tif"));
    EXPECT_EQ("C:\\T\\kel12.jpg", tempFileName("C:\\T\\", 12, ".jpg"));
    EXPECT_EQ("C:\\T\\kel2147483646.png", tempFileName("C:\\T\\", 2147483646, ".png"));

    // 255 characters fit TW_SETUPFILEXFER's FileName; 256 do not.
    std::string directory = "C:\\" + std::string(255 - 3 - 1 - 8, 'd') + "\\";
    std::string longest = tempFileName(directory, 0, ".tif");
    EXPECT_EQ(255u, longest.size());
    EXPECT_EQ("", tempFileName(directory, 10, ".tif"));
    EXPECT_EQ("", tempFileName(std::string(300, 'x') + "\\", 0, ".tif"));
}

TEST(TempFileName, TheNumberOfAnEnumeratedNameIsTheOneAProbeByNameWouldFind)
{
    const struct {
        const char* name;
        const char* extension;
        int number;
    } rows[] = {
        {"kel0.tif", ".tif", 0}, {"kel17.tif", ".tif", 17}, {"KEL3.TIF", ".tif", 3}, {"Kel9.Jpg", ".jpg", 9},
        {"kel2147483647.png", ".png", 2147483647},
        // Not names tempFileName writes for this extension.
        {"kel00.tif", ".tif", -1}, {"kel01.tif", ".tif", -1}, {"kel.tif", ".tif", -1}, {"kel-1.tif", ".tif", -1},
        {"kel+1.tif", ".tif", -1}, {"kel 1.tif", ".tif", -1}, {"kel1.tiff", ".tif", -1}, {"kel1.ti", ".tif", -1},
        {"kel1.tif.tmp", ".tif", -1}, {"kel1.jpg", ".tif", -1}, {"kelx1.tif", ".tif", -1}, {"ke", ".tif", -1},
        {"", ".tif", -1}, {"KEL1~1.TIF", ".tif", -1}, {"kel2147483648.png", ".png", -1},
        {"kel99999999999999999999.tif", ".tif", -1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.number, tempFileNumber(row.name, row.extension)) << row.name << " " << row.extension;
}

TEST(TempFileName, LowestFreeNumberOfAnyTakenSet)
{
    const struct {
        std::vector<int> taken;
        int free;
    } rows[] = {
        {{}, 0}, {{-1, -1}, 0}, {{1, 2}, 0}, {{0}, 1}, {{0, 1}, 2}, {{1, 0, 3}, 2}, {{0, 0, 0}, 1},
        {{2, 1, 0, -1, 5, 4}, 3}, {{0, 1, 2, 2147483647}, 3}, {{2147483647}, 0},
    };
    for (const auto& row : rows) {
        std::string taken;
        for (int n : row.taken) taken += std::to_string(n) + " ";
        EXPECT_EQ(row.free, lowestFreeNumber(row.taken)) << "taken " << taken;
    }
    std::vector<int> many;
    for (int n = 9999; n >= 0; --n) many.push_back(n);
    EXPECT_EQ(10000, lowestFreeNumber(many));
}

TEST(ManagerProbe, OneBackslashBetweenDirectoryAndName)
{
    EXPECT_EQ("C:\\WINDOWS\\TWAIN_32.DLL", pathInDirectory("C:\\WINDOWS", "TWAIN_32.DLL"));
    EXPECT_EQ("C:\\TWAIN_32.DLL", pathInDirectory("C:\\", "TWAIN_32.DLL"));
    EXPECT_EQ("\\TWAIN_32.DLL", pathInDirectory("", "TWAIN_32.DLL"));
}

// Containers as a source lays them out: little-endian, 2-byte packing.
std::vector<unsigned char> container(TW_UINT16 itemType, std::vector<TW_UINT32> header, Items items)
{
    std::vector<unsigned char> bytes;
    bytes.push_back(itemType & 0xFF);
    bytes.push_back(itemType >> 8);
    for (TW_UINT32 value : header)
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back((value >> shift) & 0xFF);
    for (TW_UINT16 item : items) {
        bytes.push_back(item & 0xFF);
        bytes.push_back(item >> 8);
    }
    return bytes;
}

TEST(CapabilityContainer, EnumerationReadWithinItsSize)
{
    auto bytes = container(TWTY_UINT16, {3, 1, 0}, {2, 0, 4});
    EXPECT_EQ((Items{2, 0, 4}), containerItems(bytes.data(), bytes.size(), TWON_ENUMERATION));
    // A source that leaves ConType 0 (or anything unknown) is read as an enumeration.
    EXPECT_EQ((Items{2, 0, 4}), containerItems(bytes.data(), bytes.size(), 0));

    // NumItems larger than the container holds: only what is there.
    auto lying = container(TWTY_UINT16, {1000000, 0, 0}, {7, 2});
    EXPECT_EQ((Items{7, 2}), containerItems(lying.data(), lying.size(), TWON_ENUMERATION));
    auto huge = container(TWTY_UINT16, {0xFFFFFFFF, 0, 0}, {7});
    EXPECT_EQ((Items{7}), containerItems(huge.data(), huge.size(), TWON_ENUMERATION));
    // An odd trailing byte is no item.
    auto odd = container(TWTY_UINT16, {2, 0, 0}, {7});
    odd.push_back(0x01);
    EXPECT_EQ((Items{7}), containerItems(odd.data(), odd.size(), TWON_ENUMERATION));

    // Fewer items than NumItems says, and a container too short for its header.
    auto fewer = container(TWTY_UINT16, {1, 0, 0}, {4, 7});
    EXPECT_EQ((Items{4}), containerItems(fewer.data(), fewer.size(), TWON_ENUMERATION));
    EXPECT_EQ(Items{}, containerItems(fewer.data(), 13, TWON_ENUMERATION));
    EXPECT_EQ(Items{}, containerItems(nullptr, 100, TWON_ENUMERATION));
}

TEST(CapabilityContainer, OneValueAndArrayReadAsWhatTheyAre)
{
    auto one = container(TWTY_UINT16, {TWSX_FILE}, {});
    ASSERT_EQ(6u, one.size());
    EXPECT_EQ((Items{TWSX_FILE}), containerItems(one.data(), one.size(), TWON_ONEVALUE));
    EXPECT_EQ(Items{}, containerItems(one.data(), 5, TWON_ONEVALUE));

    // An array has no indexes: its items follow NumItems directly.
    auto array = container(TWTY_UINT16, {3}, {TWFF_PNG, TWFF_TIFF, TWFF_BMP});
    EXPECT_EQ((Items{TWFF_PNG, TWFF_TIFF, TWFF_BMP}), containerItems(array.data(), array.size(), TWON_ARRAY));
    auto longArray = container(TWTY_UINT16, {50}, {TWFF_PNG});
    EXPECT_EQ((Items{TWFF_PNG}), containerItems(longArray.data(), longArray.size(), TWON_ARRAY));
    EXPECT_EQ(Items{}, containerItems(array.data(), 5, TWON_ARRAY));

    // A range lists no values.
    auto range = container(TWTY_UINT16, {0, 2, 1, 0, 0}, {});
    EXPECT_EQ(Items{}, containerItems(range.data(), range.size(), TWON_RANGE));
}

TEST(CapabilityContainer, ThirtyTwoBitItemsReadAtTheirWidth)
{
    // The 32-bit values follow the header's fields in this helper.
    auto one = container(TWTY_UINT32, {TWSX_MEMORY}, {});
    EXPECT_EQ((Items{TWSX_MEMORY}), containerItems(one.data(), one.size(), TWON_ONEVALUE));
    // Its low half is TWSX_FILE, the value is not.
    auto wide = container(TWTY_UINT32, {0x00010001}, {});
    EXPECT_EQ(Items{}, containerItems(wide.data(), wide.size(), TWON_ONEVALUE));

    auto enumeration = container(TWTY_UINT32, {3, 0, 0, TWSX_NATIVE, TWSX_MEMORY, TWSX_FILE}, {});
    EXPECT_EQ((Items{TWSX_NATIVE, TWSX_MEMORY, TWSX_FILE}),
              containerItems(enumeration.data(), enumeration.size(), TWON_ENUMERATION));
    // NumItems beyond the container, and two bytes that are no 32-bit item.
    auto array = container(TWTY_INT32, {100, TWFF_PNG}, {0x0007});
    EXPECT_EQ((Items{TWFF_PNG}), containerItems(array.data(), array.size(), TWON_ARRAY));
}

} // namespace
