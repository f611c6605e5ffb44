// One selection and one acquisition through the natives with the stand-in
// source manager of this build's architecture (TWAIN_32.DLL beside the test
// program, WINEDLLOVERRIDES twain_32=n,b). Runs for x86 and x64.
#include <windows.h>

#include <string>
#include <vector>

#include "scanning_fixture.h"

namespace {

using namespace scanning;
using Names = std::vector<std::string>;

TEST_F(StandinScanning, SelectionThenOnePage)
{
    selectSource();
    EXPECT_EQ(kIdle, pollSelect());
    acquire();
    pressScan();
    EXPECT_EQ((Names{temp + "kel0.tif"}), collect());
    EXPECT_EQ((Names{"OPENDSM", "USERSELECT", "CLOSEDSM", "OPENDSM", "OPENDS", "GET XFERMECH", "SET XFERMECH", "ENABLEDS", "PROCESSEVENT",
                     "GET XFERMECH", "GET IMAGEFILEFORMAT", "IMAGEINFO", "SETUPFILEXFER SET", "IMAGEFILEXFER",
                     "ENDXFER", "DISABLEDS", "CLOSEDS", "CLOSEDSM"}),
              calls());
    for (const standin::Call& call : twaintest::loggedCalls(dsm)) {
        EXPECT_EQ(worker, call.thread) << twaintest::callName(call);
        if (call.dat == dovrikna::DAT_USERINTERFACE) EXPECT_EQ(twainWindow, call.parent);
    }
}

} // namespace
