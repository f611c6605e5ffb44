// The conversation log's lines for DSM_Entry calls: the fields that tell a
// support engineer what happened, names for the known values, numbers for
// the rest, and never a byte beyond a record or the line.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "acquisition/conversation_text.h"

namespace {

using namespace dovrikna;

std::string describe(const DsmCallRecord& call)
{
    LogLine line;
    describeDsmCall(line, call);
    return line.c_str();
}

TEST(ConversationText, CallsAreNamedWithTheirFieldsAndResult)
{
    TW_IDENTITY source;
    std::memset(&source, 'S', sizeof source); // names that fill their fields, no terminator
    source.Id = 7;
    source.Version.MajorNum = 2;
    source.Version.MinorNum = 1;
    source.ProtocolMajor = 1;
    source.ProtocolMinor = 9;
    const std::string name(34, 'S');

    TW_CAPABILITY capability = {ICAP_IMAGEFILEFORMAT, TWON_ENUMERATION, nullptr};
    const TW_UINT16 formats[] = {TWFF_BMP, TWFF_PNG, 99};
    TW_SETUPFILEXFER setup;
    std::memset(&setup, 0, sizeof setup);
    std::strcpy(setup.FileName, "C:\\temp\\kel0.tif");
    setup.Format = TWFF_TIFF;
    TW_EVENT event = {nullptr, MSG_XFERREADY};
    TW_CAPABILITY mechanism = {ICAP_XFERMECH, TWON_ONEVALUE, nullptr};
    const TW_UINT16 memory[] = {TWSX_MEMORY};
    TW_CAPABILITY flavor = {ICAP_PIXELFLAVOR, TWON_ONEVALUE, nullptr};
    const TW_UINT16 vanilla[] = {TWPF_VANILLA};
    const TW_SETUPMEMXFER limits = {5100, 65536, 65536};
    TW_IMAGEMEMXFER strip;
    std::memset(&strip, 0, sizeof strip);
    strip.BytesPerRow = 5100;
    strip.Rows = 4;
    strip.YOffset = 2196;

    struct Case {
        DsmCallRecord call;
        std::string expected;
    };
    Case cases[] = {
        {{nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source, TWRC_FAILURE, nullptr, 0, true, 3},
         "DSM CONTROL/IDENTITY/OPENDS to manager Id 7 \"" + name + "\" by \"" + name + "\" version 2.1 \"" + name +
             "\" protocol 1.9 -> FAILURE, condition NODS (3)"},
        {{&source, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability, TWRC_SUCCESS, formats, 3, false, 0},
         "DSM CONTROL/CAPABILITY/GET to source \"" + name + "\" IMAGEFILEFORMAT ENUMERATION [BMP,PNG,0x63] -> SUCCESS"},
        {{&source, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup, TWRC_SUCCESS, nullptr, 0, false, 0},
         "DSM CONTROL/SETUPFILEXFER/SET to source \"" + name + "\" \"C:\\temp\\kel0.tif\" format TIFF -> SUCCESS"},
        {{&source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event, TWRC_DSEVENT, nullptr, 0, false, 0},
         "DSM CONTROL/EVENT/PROCESSEVENT to source \"" + name + "\" XFERREADY -> DSEVENT"},
        // A set tells the value it offered, taken or not.
        {{&source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &mechanism, TWRC_FAILURE, memory, 1, true, 10},
         "DSM CONTROL/CAPABILITY/SET to source \"" + name + "\" XFERMECH ONEVALUE [MEMORY] -> FAILURE, condition BADVALUE (10)"},
        {{&source, DG_CONTROL, DAT_CAPABILITY, 0x2, &flavor, TWRC_SUCCESS, vanilla, 1, false, 0},
         "DSM CONTROL/CAPABILITY/GETCURRENT to source \"" + name + "\" PIXELFLAVOR ONEVALUE [VANILLA] -> SUCCESS"},
        {{&source, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &limits, TWRC_SUCCESS, nullptr, 0, false, 0},
         "DSM CONTROL/SETUPMEMXFER/GET to source \"" + name + "\" MinBufSize 5100 MaxBufSize 65536 Preferred 65536 -> SUCCESS"},
        {{&source, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip, TWRC_XFERDONE, nullptr, 0, false, 0},
         "DSM IMAGE/IMAGEMEMXFER/GET to source \"" + name + "\" rows 2196+4 BytesPerRow 5100 Compression 0 -> XFERDONE"},
        {{nullptr, 0x8, 0x777, 0x999, nullptr, 42, nullptr, 0, true, 200},
         "DSM 0x8/0x777/0x999 to manager -> 0x2A, condition 0xC8 (200)"},
    };
    for (const Case& test : cases) EXPECT_EQ(test.expected, describe(test.call));
}

TEST(ConversationText, TheTransferPlanSaysWhatWasSetAndHowPagesCome)
{
    const struct {
        TW_UINT16 chosen;
        bool accepted;
        PagePlan plan;
        const char* expected;
    } cases[] = {
        {TWSX_FILE, true, PagePlan::FileThenNative, "transfer mechanism FILE set: pages by file, else natively"},
        {TWSX_MEMORY, true, PagePlan::Memory, "transfer mechanism MEMORY set: pages by memory, else natively"},
        {TWSX_MEMORY, false, PagePlan::Native, "transfer mechanism MEMORY refused: pages by native transfer"},
        {kNoMechanism, false, PagePlan::FileThenNative,
         "transfer mechanism not set: the source listed none: pages by file, else natively"},
    };
    for (const auto& c : cases) {
        LogLine line;
        describePagePlan(line, c.chosen, c.accepted, c.plan);
        EXPECT_STREQ(c.expected, line.c_str());
    }
}

TEST(ConversationText, ALineLongerThanItsBufferIsCutOff)
{
    LogLine line;
    const std::string long_text(3 * LogLine::kCapacity, 'x');
    line.text("start ").quoted(long_text.c_str()).number(18446744073709551615ULL);
    EXPECT_EQ(LogLine::kCapacity, line.size());
    EXPECT_EQ(LogLine::kCapacity, std::strlen(line.c_str()));
    LogLine numbers;
    numbers.signedNumber(-9223372036854775807LL - 1).text(" ").hex(0).text(" ").digits(7, 3);
    EXPECT_STREQ("-9223372036854775808 0x0 007", numbers.c_str());
}

} // namespace
