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
        {{nullptr, 0x8, 0x777, 0x999, nullptr, 42, nullptr, 0, true, 200},
         "DSM 0x8/0x777/0x999 to manager -> 0x2A, condition 0xC8 (200)"},
    };
    for (const Case& test : cases) EXPECT_EQ(test.expected, describe(test.call));
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
